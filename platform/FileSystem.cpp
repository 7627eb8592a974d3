#include "platform/FileSystem.h"

#include "platform/UniqueHandle.h"

#include <string>
#include <vector>

namespace bw {

DWORD FileAttributes(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str());
}

bool HasAttribute(const std::wstring& path, DWORD attribute) {
    const DWORD attributes = FileAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & attribute) != 0;
}

bool DirectoryExists(const std::wstring& path) {
    return HasAttribute(path, FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const std::wstring& path) {
    return FileAttributes(path) != INVALID_FILE_ATTRIBUTES;
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = FileAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DeleteFileAt(const std::wstring& path) {
    return ::DeleteFileW(path.c_str()) != FALSE;
}

void ForEachMatch(const std::wstring& pattern, const std::function<void(const WIN32_FIND_DATAW&)>& visit) {
    WIN32_FIND_DATAW data{};
    UniqueFind search(::FindFirstFileW(pattern.c_str(), &data));
    if (!search) {
        return;
    }
    do {
        visit(data);
    } while (::FindNextFileW(search.Get(), &data));
}

static size_t AfterLastSeparator(const std::wstring& path) {
    const size_t at = path.find_last_of(L"\\:");
    return at == std::wstring::npos ? 0 : at + 1;
}

std::wstring FileNamePart(const std::wstring& path) {
    return path.substr(AfterLastSeparator(path));
}

std::wstring FolderPart(const std::wstring& path) {
    return path.substr(0, AfterLastSeparator(path));
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    if (!folder.empty() && (folder.back() == L'\\' || folder.back() == L':')) {
        return folder + name;
    }
    return folder + L"\\" + name;
}

std::wstring FullPath(const std::wstring& path) {
    DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return path;
    }
    std::vector<wchar_t> buffer(size);
    size = ::GetFullPathNameW(path.c_str(), size, buffer.data(), nullptr);
    if (size == 0 || size >= buffer.size()) {
        return path;
    }
    return std::wstring(buffer.data(), size);
}

std::wstring ModulePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2); // the path was cut; try a larger buffer
    }
}

constexpr DWORD kCompareChunk = 8192;

static UniqueFile OpenForComparing(const std::wstring& path) {
    return UniqueFile(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool FilesHoldSameBytes(const std::wstring& first, const std::wstring& second) {
    WIN32_FILE_ATTRIBUTE_DATA firstData{};
    WIN32_FILE_ATTRIBUTE_DATA secondData{};
    if (!::GetFileAttributesExW(first.c_str(), GetFileExInfoStandard, &firstData) ||
        !::GetFileAttributesExW(second.c_str(), GetFileExInfoStandard, &secondData) ||
        firstData.nFileSizeHigh != secondData.nFileSizeHigh || firstData.nFileSizeLow != secondData.nFileSizeLow) {
        return false;
    }
    UniqueFile firstFile = OpenForComparing(first);
    UniqueFile secondFile = OpenForComparing(second);
    if (!firstFile || !secondFile) {
        return false;
    }
    std::string firstBytes(kCompareChunk, '\0');
    std::string secondBytes(kCompareChunk, '\0');
    for (;;) {
        DWORD firstRead = 0;
        DWORD secondRead = 0;
        if (!::ReadFile(firstFile.Get(), firstBytes.data(), kCompareChunk, &firstRead, nullptr) ||
            !::ReadFile(secondFile.Get(), secondBytes.data(), kCompareChunk, &secondRead, nullptr) ||
            firstRead != secondRead || firstBytes.compare(0, firstRead, secondBytes, 0, secondRead) != 0) {
            return false;
        }
        if (firstRead == 0) {
            return true;
        }
    }
}

} // namespace bw
