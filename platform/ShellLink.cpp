#include "platform/ShellLink.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/UniqueHandle.h"

#include <shlwapi.h>

#include <algorithm>
#include <cwchar>
#include <vector>

namespace bw {

namespace {

// Texts read from a link may be longer than MAX_PATH and than the description limit; this is enough to tell
// a description that reaches the limit from one that does not.
constexpr int kReadBufferLength = 4096;

// A new memory stream, owned by the returned pointer. (Taken over through the pointer's own slot: ComPtr's
// Attach adds a reference with mingw-w64's headers but not with Microsoft's, so it would leak with one of them.)
ComPtr<IStream> MemoryStream(const std::string& bytes) {
    ComPtr<IStream> stream;
    *stream.ReleaseAndGetAddressOf() =
        ::SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size()));
    return stream;
}

// The parts of a .lnk file that come before its extra data, in order, by the flag of the header that says
// each is there: the target's ID list (sized in 16 bits), the link info (sized in 32 bits), and five strings
// (each a 16-bit count of characters, of two bytes each in a Unicode link).
constexpr DWORD kHasIdList = 0x1;
constexpr DWORD kHasLinkInfo = 0x2;
constexpr DWORD kStringFlags[] = {0x4, 0x8, 0x10, 0x20, 0x40};
constexpr DWORD kIsUnicode = 0x80;
constexpr size_t kHeaderSize = 0x4C;
constexpr size_t kFlagsOffset = 0x14;

std::optional<DWORD> NumberAt(const std::string& bytes, size_t at, size_t width) {
    if (at > bytes.size() || bytes.size() - at < width) {
        return std::nullopt;
    }
    DWORD number = 0;
    for (size_t i = width; i-- > 0;) {
        number = (number << 8) | static_cast<unsigned char>(bytes[at + i]);
    }
    return number;
}

std::string NumberBytes(DWORD number) {
    std::string bytes(4, '\0');
    for (size_t i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
    }
    return bytes;
}

// Where the extra data of a .lnk file begins; nothing when the bytes are not laid out as a link.
std::optional<size_t> ExtraDataStart(const std::string& bytes) {
    const auto headerSize = NumberAt(bytes, 0, 4);
    const auto flags = NumberAt(bytes, kFlagsOffset, 4);
    if (!headerSize || *headerSize != kHeaderSize || !flags) {
        return std::nullopt;
    }
    size_t at = kHeaderSize;
    if (*flags & kHasIdList) {
        const auto size = NumberAt(bytes, at, 2);
        if (!size) {
            return std::nullopt;
        }
        at += 2 + *size;
    }
    if (*flags & kHasLinkInfo) {
        const auto size = NumberAt(bytes, at, 4);
        if (!size || *size < 4) {
            return std::nullopt;
        }
        at += *size;
    }
    for (DWORD flag : kStringFlags) {
        if (*flags & flag) {
            const auto count = NumberAt(bytes, at, 2);
            if (!count) {
                return std::nullopt;
            }
            at += 2 + *count * ((*flags & kIsUnicode) ? 2 : 1);
        }
    }
    if (at > bytes.size()) {
        return std::nullopt;
    }
    return at;
}

// Calls `each(start, size, signature)` for every extra data block before the terminal one; false when a block
// runs past the end of the bytes. `end` is set to where the terminal block (or the bytes) end.
template <typename Each> bool ForEachBlock(const std::string& bytes, size_t start, size_t& end, Each each) {
    size_t at = start;
    for (;;) {
        const auto size = NumberAt(bytes, at, 4);
        if (!size) {
            end = bytes.size(); // no terminal block: the blocks end with the bytes
            return at == bytes.size();
        }
        if (*size < 8) {
            end = at + 4; // the terminal block
            return true;
        }
        if (bytes.size() - at < *size) {
            return false;
        }
        each(at, static_cast<size_t>(*size), *NumberAt(bytes, at + 4, 4));
        at += *size;
    }
}

template <typename Getter> std::wstring ReadText(Getter get) {
    std::vector<wchar_t> buffer(kReadBufferLength, L'\0');
    if (FAILED(get(buffer.data(), kReadBufferLength))) {
        return {};
    }
    buffer.back() = L'\0';
    return buffer.data();
}

} // namespace

TShellLink::TShellLink() {
    ComPtr<IUnknown> object;
    const HRESULT hr =
        ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&object));
    if (FAILED(hr)) {
        throw EOleError(Operation::LinkObject, {}, static_cast<unsigned long>(hr));
    }
    if (FAILED(object.As(&m_link)) || FAILED(object.As(&m_stream))) {
        throw EIntfCastError(Operation::LinkInterface, {}, static_cast<unsigned long>(E_NOINTERFACE));
    }
}

bool TShellLink::LoadBytes(const std::string& bytes) {
    const ComPtr<IStream> stream = MemoryStream(bytes);
    if (!stream || FAILED(m_stream->Load(stream.Get()))) {
        *this = TShellLink(); // no half-loaded values
        return false;
    }
    return true;
}

std::string TShellLink::SaveBytes() const {
    // Saving to memory and writing the file ourselves puts it in place in one step; it is also far quicker
    // than the object's own file save, which under Wine notifies the desktop of every file it writes.
    const ComPtr<IStream> stream = MemoryStream({});
    HRESULT hr = stream ? m_stream->Save(stream.Get(), FALSE) : E_OUTOFMEMORY;
    STATSTG stat{};
    if (SUCCEEDED(hr)) {
        hr = stream->Stat(&stat, STATFLAG_NONAME);
    }
    std::string bytes;
    if (SUCCEEDED(hr)) {
        bytes.resize(static_cast<size_t>(stat.cbSize.QuadPart));
        const LARGE_INTEGER start{};
        hr = stream->Seek(start, STREAM_SEEK_SET, nullptr);
        ULONG read = 0;
        if (SUCCEEDED(hr) && !bytes.empty()) {
            hr = stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
            if (SUCCEEDED(hr) && read != bytes.size()) {
                hr = E_FAIL;
            }
        }
    }
    if (FAILED(hr)) {
        throw EOleError(Operation::LinkObject, {}, static_cast<unsigned long>(hr));
    }
    if (m_blockSignature != 0 && DataBlockOf(bytes, m_blockSignature).value_or(std::string()) != m_blockData) {
        // The object keeps no block of its own (Wine's does not): it goes into the bytes themselves.
        auto withBlock = WithDataBlock(bytes, m_blockSignature, m_blockData);
        if (!withBlock) {
            throw EOleError(Operation::LinkObject, {}, static_cast<unsigned long>(E_UNEXPECTED));
        }
        bytes = std::move(*withBlock);
    }
    return bytes;
}

void TShellLink::SetDataBlock(DWORD signature, const std::string& data) {
    m_blockSignature = signature;
    m_blockData = data;
    ComPtr<IShellLinkDataList> list;
    if (FAILED(m_link.As(&list))) {
        return;
    }
    (void)list->RemoveDataBlock(signature); // none there is fine
    if (!data.empty()) {
        std::string block = NumberBytes(static_cast<DWORD>(data.size() + 8)) + NumberBytes(signature) + data;
        (void)list->AddDataBlock(block.data()); // refused: SaveBytes writes it into the bytes
    }
}

std::optional<std::string> DataBlockOf(const std::string& linkBytes, DWORD signature) {
    const auto start = ExtraDataStart(linkBytes);
    if (!start) {
        return std::nullopt;
    }
    std::optional<std::string> found;
    size_t end = 0;
    const bool whole = ForEachBlock(linkBytes, *start, end, [&](size_t at, size_t size, DWORD blockSignature) {
        if (blockSignature == signature && !found) {
            found = linkBytes.substr(at + 8, size - 8);
        }
    });
    return whole ? found : std::nullopt;
}

std::optional<std::string> WithDataBlock(const std::string& linkBytes, DWORD signature, const std::string& data) {
    const auto start = ExtraDataStart(linkBytes);
    if (!start) {
        return std::nullopt;
    }
    std::string result = linkBytes.substr(0, *start);
    size_t end = 0;
    const bool whole = ForEachBlock(linkBytes, *start, end, [&](size_t at, size_t size, DWORD blockSignature) {
        if (blockSignature != signature) {
            result += linkBytes.substr(at, size);
        }
    });
    if (!whole) {
        return std::nullopt;
    }
    if (!data.empty()) {
        result += NumberBytes(static_cast<DWORD>(data.size() + 8)) + NumberBytes(signature) + data;
    }
    result += NumberBytes(0); // the terminal block
    result += linkBytes.substr(std::min(end, linkBytes.size()));
    return result;
}

bool TShellLink::Load(const std::wstring& path) {
    const auto bytes = ReadWholeFile(path, kLinkFileLimit);
    if (!bytes) {
        *this = TShellLink();
        return false;
    }
    return LoadBytes(*bytes);
}

bool TShellLink::Save(const std::wstring& path) const {
    try {
        WriteFileReplacing(path, SaveBytes());
        return true;
    } catch (const EBootwarden&) {
        return false;
    }
}

std::wstring TShellLink::Path() const {
    return ReadText([this](wchar_t* buffer, int length) { return m_link->GetPath(buffer, length, nullptr, 0); });
}

std::wstring TShellLink::RawPath() const {
    return ReadText(
        [this](wchar_t* buffer, int length) { return m_link->GetPath(buffer, length, nullptr, SLGP_RAWPATH); });
}

std::wstring TShellLink::Description() const {
    return ReadText([this](wchar_t* buffer, int length) { return m_link->GetDescription(buffer, length); });
}

std::wstring TShellLink::Arguments() const {
    return ReadText([this](wchar_t* buffer, int length) { return m_link->GetArguments(buffer, length); });
}

int TShellLink::IconIndex() const {
    std::vector<wchar_t> buffer(kReadBufferLength, L'\0');
    int index = 0;
    if (FAILED(m_link->GetIconLocation(buffer.data(), kReadBufferLength, &index))) {
        return 0;
    }
    return index;
}

std::wstring TShellLink::IconLocation() const {
    std::vector<wchar_t> buffer(kReadBufferLength, L'\0');
    int index = 0;
    if (FAILED(m_link->GetIconLocation(buffer.data(), kReadBufferLength, &index))) {
        return {};
    }
    return std::wstring(buffer.data());
}

bool TShellLink::SetPath(const std::wstring& path) {
    return SUCCEEDED(m_link->SetPath(path.c_str()));
}

namespace {
// Item ID lists as the shell hands them out: parsed ones go with CoTaskMemFree, a combined one with ILFree.
using UniqueIdList = UniqueHandle<PIDLIST_ABSOLUTE, ::CoTaskMemFree>;
using UniqueChildIdList = UniqueHandle<PIDLIST_RELATIVE, ::CoTaskMemFree>;
using UniqueCombinedIdList = UniqueHandle<PIDLIST_ABSOLUTE, ::ILFree>;
} // namespace

struct TTargetFolders::Folder {
    UniqueIdList idList; // the folder's, fully qualified
    ComPtr<IShellFolder> folder;
};

TTargetFolders::TTargetFolders() = default;
TTargetFolders::~TTargetFolders() = default;

const TTargetFolders::Folder* TTargetFolders::Find(const std::wstring& path) {
    const auto known = m_folders.find(path);
    if (known != m_folders.end()) {
        return known->second.get();
    }
    auto folder = std::make_unique<Folder>();
    ComPtr<IShellFolder> desktop;
    if (FAILED(::SHParseDisplayName(path.c_str(), nullptr, folder->idList.Put(), 0, nullptr)) ||
        FAILED(::SHGetDesktopFolder(&desktop)) ||
        FAILED(desktop->BindToObject(folder->idList.Get(), nullptr, IID_PPV_ARGS(&folder->folder)))) {
        folder.reset(); // every file of it goes through SetPath
    }
    return (m_folders[path] = std::move(folder)).get();
}

bool TShellLink::SetPathIn(TTargetFolders& folders, const std::wstring& path) {
    // Only a plain full path on a drive: a reference, a quote, a share or a relative path goes to SetPath whole.
    const size_t slash = path.find_last_of(L'\\');
    if (path.size() < 4 || path[1] != L':' || path[2] != L'\\' || slash + 1 == path.size() ||
        path.find_first_of(L"%\"/") != std::wstring::npos) {
        return SetPath(path);
    }
    const TTargetFolders::Folder* folder = folders.Find(path.substr(0, slash == 2 ? 3 : slash));
    std::wstring name = path.substr(slash + 1);
    UniqueChildIdList child;
    if (folder == nullptr ||
        FAILED(folder->folder->ParseDisplayName(nullptr, nullptr, name.data(), nullptr, child.Put(), nullptr))) {
        return SetPath(path); // a file that is not there, among others
    }
    const UniqueCombinedIdList full(::ILCombine(folder->idList.Get(), child.Get()));
    const bool set = full && SUCCEEDED(m_link->SetIDList(full.Get()));
    return set && RawPath() == path ? true : SetPath(path);
}

bool TShellLink::SetArguments(const std::wstring& arguments) {
    return SUCCEEDED(m_link->SetArguments(arguments.c_str()));
}

bool TShellLink::SetIconLocation(const std::wstring& path, int index) {
    return SUCCEEDED(m_link->SetIconLocation(path.c_str(), index));
}

bool TShellLink::SetDescription(const std::wstring& description) {
    return SUCCEEDED(m_link->SetDescription(description.c_str()));
}

} // namespace bw
