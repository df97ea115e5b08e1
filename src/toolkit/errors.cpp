#include "toolkit/errors.h"

namespace toolkit {

namespace {

// Operation names and numbers are ASCII: each byte is its character.
std::wstring FromAscii(const char* text) { return std::wstring(text, text + std::char_traits<char>::length(text)); }

std::wstring SystemMessage(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring message =
        length && buffer ? std::wstring(buffer, length) : L"erro " + FromAscii(std::to_string(code).c_str());
    LocalFree(buffer);
    const auto end = message.find_last_not_of(L"\r\n. ");
    return message.substr(0, end == std::wstring::npos ? 0 : end + 1);
}

// `text` in `codePage`; empty when it is not valid there.
std::wstring Decode(UINT codePage, DWORD flags, const std::string& text) {
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, flags, text.data(), size, wide.data(), length);
    return wide;
}

}  // namespace

Win32Error::Win32Error(const std::wstring& what, DWORD code)
    : std::runtime_error("Windows error " + std::to_string(code)),
      code_(code),
      message_(what + L": " + SystemMessage(code)) {}

Win32Error::Win32Error(const char* what, DWORD code) : Win32Error(FromAscii(what), code) {}

std::wstring Widen(const std::string& text) {
    std::wstring wide = Decode(CP_UTF8, MB_ERR_INVALID_CHARS, text);
    return wide.empty() ? Decode(CP_ACP, 0, text) : wide;
}

}  // namespace toolkit
