#pragma once

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace bw {

template <typename T> using ComPtr = Microsoft::WRL::ComPtr<T>;

// The most text that a shell link is sure to keep in its description: INFOTIPSIZE less the terminating
// zero. Some shells keep more, but nothing longer is relied on.
inline constexpr size_t kLinkDescriptionLimit = INFOTIPSIZE - 1;

// The largest file taken for a shell link; anything larger is no shortcut of ours or the user's.
inline constexpr size_t kLinkFileLimit = 4u << 20;

// One shell-link object (.lnk file) of the platform, seen through its IShellLinkW and persistence interfaces.
// Creation raises EOleError, or EIntfCastError "Interface not supported" when the object lacks one of them;
// the object is released with this wrapper. After a failed load the getters give empty text.
class TTargetFolders;

class TShellLink {
public:
    TShellLink();

    // Takes the link from the bytes of a .lnk file; false when they are no shell link.
    bool LoadBytes(const std::string& bytes);
    // The bytes of a .lnk file holding the link; raises EOleError when the object cannot give them.
    std::string SaveBytes() const;

    // Reads a .lnk file whole (never through a link) and takes it; false when it cannot be read or loaded.
    bool Load(const std::wstring& path);
    // Writes the link to a file in one step (WriteFileReplacing); false when it cannot be written.
    bool Save(const std::wstring& path) const;

    std::wstring Path() const;
    // The target as the link keeps it: environment references unexpanded.
    std::wstring RawPath() const;
    std::wstring Description() const;
    std::wstring Arguments() const;
    int IconIndex() const;
    // The file the link names for its icon ("" when it names none: the shell then shows its target's).
    std::wstring IconLocation() const;

    bool SetPath(const std::wstring& path);
    // The same target as SetPath gives, for a file whose folder `folders` knows or can learn: the file's item ID
    // list is made from its folder's (a name parsed by the folder, not a whole path by the desktop), which costs a
    // fraction of SetPath's parse of every part of the path. Where the folder or the file cannot be parsed, or the
    // path read back is not `path` as given (its case, say), it is SetPath.
    bool SetPathIn(TTargetFolders& folders, const std::wstring& path);
    bool SetDescription(const std::wstring& description);
    bool SetArguments(const std::wstring& arguments);
    bool SetIconLocation(const std::wstring& path, int index);

    // The extra data block of `signature` that the next SaveBytes writes (replacing one of that signature the
    // link holds); "" writes none. Such a block is shown nowhere by the shell, and the shell's link object
    // keeps the blocks it loaded when it saves the link again (its property sheet included).
    void SetDataBlock(DWORD signature, const std::string& data);

private:
    ComPtr<IShellLinkW> m_link;
    ComPtr<IPersistStream> m_stream;
    DWORD m_blockSignature = 0;
    std::string m_blockData;
};

// The shell folders of the folders that link targets lie in, each parsed once and kept with its item ID list, for
// TShellLink::SetPathIn. It holds COM objects of the apartment of the thread that made it, and goes on that thread.
class TTargetFolders {
public:
    TTargetFolders();
    ~TTargetFolders();
    TTargetFolders(const TTargetFolders&) = delete;
    TTargetFolders& operator=(const TTargetFolders&) = delete;

    struct Folder;
    // The folder at `path`, parsed now or before; null when the shell cannot parse it.
    const Folder* Find(const std::wstring& path);

private:
    std::map<std::wstring, std::unique_ptr<Folder>> m_folders;
};

// The data of the extra data block of `signature` in the bytes of a .lnk file (the layout Microsoft documents
// for shell links: header, target ID list, link info, strings, then blocks each led by its size and its
// signature); nothing when there is none or the bytes are not laid out so.
std::optional<std::string> DataBlockOf(const std::string& linkBytes, DWORD signature);

// The bytes of a .lnk file with the block of `signature` replaced by one holding `data` (or removed, for "");
// nothing when the bytes are not laid out as a link.
std::optional<std::string> WithDataBlock(const std::string& linkBytes, DWORD signature, const std::string& data);

} // namespace bw
