#pragma once

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <string>

namespace bw {

template <typename T> using ComPtr = Microsoft::WRL::ComPtr<T>;

// The most text that a shell link is sure to keep in its description: INFOTIPSIZE less the terminating
// zero. Some shells keep more, but nothing longer is relied on.
inline constexpr size_t kLinkDescriptionLimit = INFOTIPSIZE - 1;

// One shell-link object (.lnk file) of the platform, seen through its IShellLinkW and IPersistFile
// interfaces. Creation raises EOleError, or EIntfCastError "Interface not supported" when the object
// lacks one of the two; the object is released with this wrapper. The results of the operations are
// reported but callers are free to ignore them: after a failed call the getters give empty text.
class TShellLink {
public:
    TShellLink();

    bool Load(const std::wstring& path);
    bool Save(const std::wstring& path); // fRemember false: the file does not become the object's own

    std::wstring Path() const;
    std::wstring Description() const;
    int IconIndex() const;

    bool SetPath(const std::wstring& path);
    bool SetDescription(const std::wstring& description);

private:
    ComPtr<IShellLinkW> m_link;
    ComPtr<IPersistFile> m_file;
};

} // namespace bw
