#include "launcher_driver.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace launcher_driver {

std::wstring WindowsPath(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* c = unixPath; *c; ++c) path += (*c == '/') ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

std::wstring TempPath(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + name;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::string> Lines(const std::wstring& path) {
    std::vector<std::string> lines;
    std::ifstream in(path.c_str());
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        Sleep(5);
    }
    return true;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring TextOf(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);  // another process: answered by the window manager's copy
    return text;
}

namespace {

struct WindowSearch {
    DWORD pid;
    std::vector<HWND> found;
};

// A stdcall function, not a lambda: i686 needs the calling convention.
BOOL CALLBACK CollectWindowOf(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->pid) search->found.push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> TopLevelWindows(DWORD pid) {
    WindowSearch search{pid, {}};
    EnumWindows(CollectWindowOf, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND SplashOf(DWORD pid) {
    for (HWND window : TopLevelWindows(pid))
        if (ClassOf(window) == L"Tfrm_abertura" && TextOf(window) == L"frm_abertura") return window;
    return nullptr;
}

Pixels Capture(const RECT& area) {
    Pixels out;
    out.width = area.right - area.left;
    out.height = area.bottom - area.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = out.width;
    info.bmiHeader.biHeight = -out.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, out.width, out.height, screen, area.left, area.top, SRCCOPY);
    GdiFlush();
    const auto* bgrx = static_cast<const DWORD*>(bits);
    for (int i = 0; i < out.width * out.height; ++i) {
        const DWORD p = bgrx[i];
        out.rgb.push_back(RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF));
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return out;
}

RECT OnScreen(HWND window, const RECT& client) {
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    return {origin.x + client.left, origin.y + client.top, origin.x + client.right, origin.y + client.bottom};
}

bool Near(COLORREF a, COLORREF b) {
    return abs(GetRValue(a) - GetRValue(b)) + abs(GetGValue(a) - GetGValue(b)) + abs(GetBValue(a) - GetBValue(b)) <= 48;
}

double BarFill(HWND splash) {
    const RECT row{kBar.left, kBar.top + 12, kBar.right, kBar.top + 13};
    const Pixels p = Capture(OnScreen(splash, row));
    constexpr int edge = 2;  // the sunken border
    const int inner = p.width - 2 * edge;
    const COLORREF empty = p.At(p.width - edge - 2, 0);
    for (int x = p.width - edge - 1; x >= edge; --x)
        if (Differs(p.At(x, 0), empty)) return static_cast<double>(x - edge + 1) / inner;
    return 0.0;
}

std::vector<ProcessEntry> Processes() {
    std::vector<ProcessEntry> out;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return out;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry))
        out.push_back({entry.th32ProcessID, entry.th32ParentProcessID, entry.szExeFile});
    CloseHandle(snapshot);
    return out;
}

void EndProcess(DWORD pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
    if (!process) return;
    if (WaitForSingleObject(process, 10000) == WAIT_TIMEOUT) TerminateProcess(process, 99);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
}

Launch::Launch(const std::wstring& exe, Show show, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (show.set) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = show.command;
    }
    started_ = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &process_) != FALSE;
}

Launch::~Launch() {
    if (!started_) return;
    if (Running()) TerminateProcess(process_.hProcess, 99);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

bool Launch::Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

bool Launch::WaitExit(std::chrono::milliseconds limit) const {
    return WaitForSingleObject(process_.hProcess, static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0;
}

DWORD Launch::ExitCode() const {
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
}

HWND Launch::WaitSplash(std::chrono::milliseconds limit) const {
    HWND found = nullptr;
    WaitUntil([&] { return (found = SplashOf(Pid())) && IsWindowVisible(found); }, limit);
    return found;
}

void ResetStandIn(const std::wstring& log) {
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"STANDIN_LOG", log.c_str());
    for (const wchar_t* name : {L"STANDIN_MODE", L"STANDIN_LIFETIME_MS", L"STANDIN_READY_DELAY_MS"})
        SetEnvironmentVariableW(name, nullptr);
}

void InstallStandIn(const std::wstring& standIn, const wchar_t* mode) {
    ASSERT_TRUE(CreateDirectoryW(kProductDir, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CopyFileW(standIn.c_str(), kProductExe, FALSE)) << GetLastError();
    SetEnvironmentVariableW(L"STANDIN_MODE", mode);
}

void RemoveProduct() {
    for (int attempt = 0; attempt < 50 && Exists(kProductExe); ++attempt) {
        if (DeleteFileW(kProductExe)) break;
        Sleep(100);
    }
    RemoveDirectoryW(kProductDir);
}

}  // namespace launcher_driver
