#pragma once
#include <windows.h>

#include <stdexcept>
#include <string>

namespace toolkit {

// A failed Windows call, with the system's own words for the error.
class Win32Error : public std::runtime_error {
public:
    Win32Error(const char* what, DWORD code);
    DWORD code() const { return code_; }

private:
    DWORD code_;
};

// Throws Win32Error for the calling thread's last error when `ok` is false.
inline void Check(bool ok, const char* what) {
    if (!ok) throw Win32Error(what, GetLastError());
}

std::wstring Widen(const std::string& utf8);

}  // namespace toolkit
