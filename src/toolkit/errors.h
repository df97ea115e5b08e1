#pragma once
#include <windows.h>

#include <stdexcept>
#include <string>

namespace toolkit {

// A failed Windows call, with the system's own words for the error. The words
// stay wide from FormatMessageW to the error box: no code page in between
// can lose a letter of them.
class Win32Error : public std::runtime_error {
public:
    Win32Error(const std::wstring& what, DWORD code);
    Win32Error(const char* what, DWORD code);
    DWORD code() const { return code_; }
    // "<what>: <the system's message>", as the user reads it.
    const std::wstring& Message() const { return message_; }

private:
    DWORD code_;
    std::wstring message_;
};

// Throws Win32Error for the calling thread's last error when `ok` is false.
inline void Check(bool ok, const char* what) {
    if (!ok) throw Win32Error(what, GetLastError());
}

// A narrow text made wide: our own texts are UTF-8 (the sources' string
// literals); a message of the C++ runtime that is not is in the ANSI code page.
std::wstring Widen(const std::string& text);

}  // namespace toolkit
