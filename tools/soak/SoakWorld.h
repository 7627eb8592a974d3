#pragma once

#include "store/Locations.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace soak {

// What an entry holds: a Run value's type and text (byte for byte, up to its terminating zero), or a Startup
// shortcut's target (case folded, as paths compare) and arguments, with type 0.
struct Content {
    DWORD type = 0;
    std::wstring text;
    bool operator<(const Content& other) const { return type != other.type ? type < other.type : text < other.text; }
    bool operator==(const Content& other) const { return type == other.type && text == other.text; }
};
std::wstring Describe(const Content& content);
Content ShortcutContent(const std::wstring& target, const std::wstring& arguments);

// Where an instance of an entry was found.
enum class Place { System, Switched, Mirror };

// One entry found in the system, in a switched-off folder of the store or in an enabled one.
struct Instance {
    bw::Location location = bw::Location::User;
    std::wstring name;
    Place place = Place::System;
    std::optional<Content> content; // nothing: it could not be read whole
    std::wstring path;              // its file, for a shortcut or a store link
};

// The key of an entry: its location and its name as the place compares names (registry names without regard
// to case; Wine's folders, and so Startup names, with it).
using EntryKey = std::pair<int, std::wstring>;
EntryKey KeyOf(bw::Location location, const std::wstring& name);

// Everything the checks read, with nothing running.
struct Observation {
    std::vector<Instance> instances;
    std::vector<std::wstring> temporaryFiles;            // ~bw*.tmp and other *.tmp in the store, beside it, Startup
    std::map<int, std::vector<std::wstring>> duplicates; // by store code: entry names kept by more than one link
};

// True for the locations that are Startup folders (the user's and all users').
inline bool IsFolder(bw::Location location) {
    return location == bw::Location::StartUp || location == bw::Location::Common;
}

// The soak's own world: the Run keys (both views of HKLM, and HKCU), the StartupApproved flags, both Startup
// folders and the store beside a copy of the program, all inside the soak's own Wine prefix.
class TWorld {
public:
    explicit TWorld(const std::wstring& programDir);

    const std::wstring& ProgramDir() const { return m_programDir; }
    const std::wstring& StartupDir() const { return m_startupDir; }
    // The folder of a Startup folder's location.
    const std::wstring& FolderOf(bw::Location location) const {
        return location == bw::Location::Common ? m_commonDir : m_startupDir;
    }
    bool HasLocal32() const { return m_hasLocal32; }
    std::vector<bw::Location> Locations() const;

    // Removes every Run value, every StartupApproved flag and every shortcut of the Startup folder.
    void Clear();

    // Outside changes, as an installer or an updater makes them.
    void WriteValue(bw::Location location, const std::wstring& name, const Content& content);
    bool RemoveValue(bw::Location location, const std::wstring& name);
    // A Run value as it is now; nothing when there is none.
    std::optional<Content> ReadValue(bw::Location location, const std::wstring& name) const;
    void WriteShortcut(bw::Location location, const std::wstring& name, const Content& content);
    bool RemoveShortcut(bw::Location location, const std::wstring& name);
    void SetSwitchedOffInWindows(bw::Location location, const std::wstring& name);

    // A switched-off entry kept in the store, written as the program writes it.
    void WriteSwitchedOff(bw::Location location, const std::wstring& name, const Content& content);

    // Edits an enabled store link as its property sheet does (loaded and saved in place through the link object):
    // a registry entry's description (its command line), a Startup entry's arguments. The content it now stands
    // for, nothing when the link could not be loaded or saved.
    // Edits a store link through the shell's link object and saves it as the shell does (a block it does not know
    // is not put back): a Startup link's arguments, or a registry entry's comment, or its arguments when
    // `arguments` is set. What the link then stands for, as the program reads it.
    std::optional<Content> EditStoreLink(const std::wstring& path, bw::Location location, const std::wstring& text,
                                         bool arguments = false);

    // The enabled store links, by path, with the location they belong to.
    std::vector<std::pair<std::wstring, bw::Location>> EnabledStoreLinks() const;

    // Reads every place.
    Observation Observe() const;

    // A digest of every file and value that nothing may change: the sentinel folder, the program's own files,
    // the files of the Startup folder that are no shortcuts, the sentinel keys.
    void PlantSentinels(std::mt19937& random);
    std::map<std::wstring, std::uint64_t> Sentinels() const;

private:
    std::wstring m_programDir;
    std::wstring m_startupDir;
    std::wstring m_commonDir;
    std::wstring m_sentinelDir;
    bool m_hasLocal32 = false;
};

} // namespace soak
