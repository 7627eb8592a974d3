#include "platform/ShellLink.h"

#include "platform/Errors.h"
#include "platform/FileSystem.h"

#include <shlwapi.h>

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

std::wstring OleErrorText(HRESULT hr) {
    wchar_t* text = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message;
    if (length != 0 && text != nullptr) {
        message.assign(text, length);
        ::LocalFree(text);
        while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
            message.pop_back();
        }
    }
    if (message.empty()) {
        wchar_t text[64];
        std::swprintf(text, 64, text::kOleError, static_cast<unsigned>(hr));
        message = text;
    }
    return message;
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
        throw EOleError(OleErrorText(hr));
    }
    if (FAILED(object.As(&m_link)) || FAILED(object.As(&m_stream))) {
        throw EIntfCastError(text::kInterfaceNotSupported);
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
        throw EOleError(OleErrorText(hr));
    }
    return bytes;
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

bool TShellLink::SetArguments(const std::wstring& arguments) {
    return SUCCEEDED(m_link->SetArguments(arguments.c_str()));
}

bool TShellLink::SetDescription(const std::wstring& description) {
    return SUCCEEDED(m_link->SetDescription(description.c_str()));
}

} // namespace bw
