#pragma once

#include <exception>
#include <initializer_list>
#include <string>

namespace bw {

// What a failed call was doing. The platform layer says only this, with the path or name and the system's error
// code; the words the user reads are chosen where the failure is shown (ErrorText).
enum class Operation {
    Described,     // a failure of a layer above this one, which gave its own words
    FileOpen,      // a file to read from could not be opened
    FileCreate,    // a file could not be created or put in place
    StreamRead,    // a read of an open file failed
    StreamWrite,   // a write to an open file failed
    FileMove,      // a file could not be moved
    RegistryGet,   // a registry value could not be read
    RegistryType,  // a registry value is not of a string type
    RegistrySet,   // a registry value could not be written
    NamedObject,   // a kernel object of the session (a lock) could not be made or opened
    LinkObject,    // the shell's link object could not be made or could not save
    LinkInterface, // the shell's link object lacks an interface it needs
};

// Base of every failure the program reports to the user.
class EBootwarden : public std::exception {
public:
    // A failure of the platform layer: what was done, on which path, key or name, and the system's error code
    // (an HRESULT for the link object; 0 when the call gives none).
    EBootwarden(Operation operation, std::wstring subject, unsigned long systemError = 0);
    // A failure described by the layer that raises it, in the words the user reads.
    explicit EBootwarden(std::wstring text);

    Operation WhatFailed() const { return m_operation; }
    const std::wstring& Subject() const { return m_subject; }
    unsigned long SystemError() const { return m_systemError; }
    // The words of a failure raised with its own (Operation::Described); "" for the platform layer's.
    const std::wstring& Text() const { return m_text; }
    const char* what() const noexcept override { return m_narrow.c_str(); }

private:
    Operation m_operation = Operation::Described;
    std::wstring m_subject;
    unsigned long m_systemError = 0;
    std::wstring m_text;
    std::string m_narrow; // ASCII rendering for diagnostics only
};

// Puts the arguments in place of the message's "%s", in order.
std::wstring FormatMessageText(const wchar_t* pattern, std::initializer_list<std::wstring> arguments);
inline std::wstring FormatMessageText(const wchar_t* pattern, const std::wstring& argument) {
    return FormatMessageText(pattern, {argument});
}

// The system's own message for an error code (or HRESULT), on one line, without trailing blanks; "" when the
// system has no text for it.
std::wstring SystemMessage(unsigned long error);

#define BW_DECLARE_ERROR(Name)                                                                                         \
    class Name : public EBootwarden {                                                                                  \
    public:                                                                                                            \
        using EBootwarden::EBootwarden;                                                                                \
    };

BW_DECLARE_ERROR(ERegistryException) // a value that cannot be read, written, or is of the wrong type
BW_DECLARE_ERROR(EFOpenError)        // a file that cannot be opened
BW_DECLARE_ERROR(EFCreateError)      // a file (or folder) that cannot be created
BW_DECLARE_ERROR(EReadError)         // a read that failed partway
BW_DECLARE_ERROR(EWriteError)        // a write that failed partway
BW_DECLARE_ERROR(EFCantMove)         // a file that cannot be moved
BW_DECLARE_ERROR(EOleError)          // the shell-link object could not be created
BW_DECLARE_ERROR(EIntfCastError)     // the shell-link object lacks an interface
BW_DECLARE_ERROR(EEntryRefused)      // an entry operation that would lose or corrupt data
BW_DECLARE_ERROR(ERightsMissing)     // a change that needs rights (an administrator's) the program lacks

#undef BW_DECLARE_ERROR

} // namespace bw
