#include "toolkit/errors.h"

namespace toolkit {

namespace {

std::string SystemMessage(DWORD code) {
    char* buffer = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string message = length && buffer ? std::string(buffer, length) : "error " + std::to_string(code);
    LocalFree(buffer);
    const auto end = message.find_last_not_of("\r\n. ");
    return message.substr(0, end == std::string::npos ? 0 : end + 1);
}

std::string Describe(const char* what, DWORD code) { return std::string(what) + ": " + SystemMessage(code); }

}  // namespace

Win32Error::Win32Error(const char* what, DWORD code) : std::runtime_error(Describe(what, code)), code_(code) {}

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (length <= 0) return std::wstring(utf8.begin(), utf8.end());
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

}  // namespace toolkit
