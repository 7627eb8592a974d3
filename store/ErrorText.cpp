#include "store/ErrorText.h"

#include "resources/Texts.h"

#include <cwchar>

namespace bw {

namespace {

// The system's message for a code, or "error N" when it has none.
std::wstring SystemMessageOrNumber(unsigned long code) {
    const std::wstring message = SystemMessage(code);
    return message.empty() ? FormatMessageText(text::kErrorNumber, std::to_wstring(code)) : message;
}

} // namespace

std::wstring ErrorText(const EBootwarden& error) {
    const std::wstring& subject = error.Subject();
    switch (error.WhatFailed()) {
    case Operation::Described:
        break;
    case Operation::FileOpen:
        return FormatMessageText(text::kCannotOpenFile, subject);
    case Operation::FileCreate:
        return FormatMessageText(text::kCannotCreateFile, subject);
    case Operation::StreamRead:
        return text::kStreamReadError;
    case Operation::StreamWrite:
        return text::kStreamWriteError;
    case Operation::FileMove:
        return FormatMessageText(text::kCannotMoveFile, subject);
    case Operation::RegistryGet:
        return FormatMessageText(text::kFailedToGetData, subject);
    case Operation::RegistryType:
        return FormatMessageText(text::kInvalidDataType, subject);
    case Operation::RegistrySet:
        return FormatMessageText(text::kFailedToSetData, subject);
    case Operation::NamedObject:
        return FormatMessageText(text::kNamedObjectFailed, {subject, SystemMessageOrNumber(error.SystemError())});
    case Operation::LinkObject: {
        const std::wstring message = SystemMessage(error.SystemError());
        if (!message.empty()) {
            return message;
        }
        wchar_t number[64];
        std::swprintf(number, 64, text::kOleError, static_cast<unsigned>(error.SystemError()));
        return number;
    }
    case Operation::LinkInterface:
        return text::kInterfaceNotSupported;
    }
    return error.Text();
}

} // namespace bw
