#pragma once

#include <optional>
#include <string>
#include <vector>

namespace bw {

// The store's own files and blocks keep their text as UTF-16, as Windows does: a text's bytes, and the text of
// bytes (nothing for an odd count of them, which no such text has).
std::string Utf16Bytes(const std::wstring& text);
std::optional<std::wstring> Utf16Text(const std::string& bytes);

// The fields of a line, split at every `mark`: n marks make n + 1 fields, empty ones included.
std::vector<std::wstring> FieldsOf(const std::wstring& line, wchar_t mark = L'|');

} // namespace bw
