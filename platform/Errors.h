#pragma once

#include <exception>
#include <string>

namespace bw {

// Base of every failure the program reports to the user. The message is what the error box shows.
class EBootwarden : public std::exception {
public:
    explicit EBootwarden(std::wstring message);
    const std::wstring& Message() const { return m_message; }
    const char* what() const noexcept override { return m_narrow.c_str(); }

private:
    std::wstring m_message;
    std::string m_narrow; // ASCII rendering for diagnostics only
};

// Formats a message that holds at most one "%s".
std::wstring FormatMessageText(const wchar_t* pattern, const std::wstring& argument);

#define BW_DECLARE_ERROR(Name)                                                                                         \
    class Name : public EBootwarden {                                                                                  \
    public:                                                                                                            \
        using EBootwarden::EBootwarden;                                                                                \
    };

BW_DECLARE_ERROR(ERegistryException) // "Invalid data type for '%s'", "Failed to get/set data for '%s'"
BW_DECLARE_ERROR(EFOpenError)        // "Cannot open file %s"
BW_DECLARE_ERROR(EFCreateError)      // "Cannot create file %s"
BW_DECLARE_ERROR(EReadError)         // "Stream read error"
BW_DECLARE_ERROR(EWriteError)        // "Stream write error"
BW_DECLARE_ERROR(EFCantMove)         // "Cannot move file %s"
BW_DECLARE_ERROR(EOleError)          // the shell-link object could not be created
BW_DECLARE_ERROR(EIntfCastError)     // "Interface not supported"
BW_DECLARE_ERROR(EEntryRefused)      // an entry operation that would lose or corrupt data

#undef BW_DECLARE_ERROR

namespace msg {
inline constexpr const wchar_t* kInvalidDataType = L"Invalid data type for '%s'";
inline constexpr const wchar_t* kFailedToGetData = L"Failed to get data for '%s'";
inline constexpr const wchar_t* kFailedToSetData = L"Failed to set data for '%s'";
inline constexpr const wchar_t* kCannotOpenFile = L"Cannot open file %s";
inline constexpr const wchar_t* kCannotCreateFile = L"Cannot create file %s";
inline constexpr const wchar_t* kCannotCreateFolder = L"Cannot create folder %s";
inline constexpr const wchar_t* kStreamReadError = L"Stream read error";
inline constexpr const wchar_t* kStreamWriteError = L"Stream write error";
inline constexpr const wchar_t* kCannotMoveFile = L"Cannot move file %s";
inline constexpr const wchar_t* kOleError = L"OLE error %.8x";
inline constexpr const wchar_t* kInterfaceNotSupported = L"Interface not supported";
} // namespace msg

} // namespace bw
