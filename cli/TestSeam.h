#pragma once

#include <memory>

namespace bw::cli {

// Built only into the copy of bwcli that the tests run (BwcliUnderTest.exe), never into bwcli.exe. A test
// process cannot lend its own redirection of the registry to a child, so the child redirects itself:
// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER go to the keys "Machine" and "User" below the key of
// HKEY_CURRENT_USER that the environment variable BOOTWARDEN_TEST_REGISTRY names (the test's scratch keys).
// False, and nothing redirected, when the variable is missing or its keys do not exist: the test build then
// refuses to run rather than touch the real start-up entries.
bool UseScratchRegistry();

// The places of Windows that a test stands for, for the life of the returned object: the folder that the
// variable BOOTWARDEN_TEST_TEMP names is the user's temporary folder (the test's scratch folders lie below the
// real one), and a folder inside the one that BOOTWARDEN_TEST_UNWRITABLE names cannot be written, as Program Files
// cannot for a standard user.
class TTestPlaces {
public:
    TTestPlaces();
    ~TTestPlaces();
    TTestPlaces(const TTestPlaces&) = delete;
    TTestPlaces& operator=(const TTestPlaces&) = delete;

private:
    struct Scopes;
    std::unique_ptr<Scopes> m_scopes;
};

} // namespace bw::cli
