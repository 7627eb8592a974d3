#pragma once

#include <windows.h>

#include <string>

namespace bw::cli {

// UTF-16 to UTF-8 and back. An unpaired surrogate (which a registry value name may hold) becomes U+FFFD.
std::string Utf8Of(const std::wstring& text);
std::wstring WideOf(const std::string& utf8);

// One of the program's two outputs. A console gets the text through WriteConsoleW, whatever its code page;
// a pipe or a file gets UTF-8 bytes (no byte order mark), so that every character arrives as it is.
class TOutput {
public:
    explicit TOutput(HANDLE handle);

    void Write(const std::wstring& text);

private:
    HANDLE m_handle;
    bool m_console = false;
};

// Both outputs of the process. Errors go to the error output one line each: a message that holds line breaks is
// joined into one line.
class TStreams {
public:
    virtual ~TStreams() = default;
    virtual void Out(const std::wstring& text) = 0;
    virtual void Err(const std::wstring& text) = 0;

    void Line(const std::wstring& text) { Out(text + L"\n"); }
    void Error(const std::wstring& message);
    void Warning(const std::wstring& message);
};

// The process's own standard output and error output.
class TStandardStreams : public TStreams {
public:
    TStandardStreams();
    void Out(const std::wstring& text) override { m_out.Write(text); }
    void Err(const std::wstring& text) override { m_err.Write(text); }

private:
    TOutput m_out;
    TOutput m_err;
};

} // namespace bw::cli
