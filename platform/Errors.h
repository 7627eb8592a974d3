#pragma once

#include "resources/Texts.h"

#include <exception>
#include <initializer_list>
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

// Puts the arguments in place of the message's "%s", in order.
std::wstring FormatMessageText(const wchar_t* pattern, std::initializer_list<std::wstring> arguments);
inline std::wstring FormatMessageText(const wchar_t* pattern, const std::wstring& argument) {
    return FormatMessageText(pattern, {argument});
}

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
BW_DECLARE_ERROR(ERightsMissing)     // a change that needs rights (an administrator's) the program lacks

#undef BW_DECLARE_ERROR

} // namespace bw
