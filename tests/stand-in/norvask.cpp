// Stand-in product. Environment:
//   STANDIN_LOG   file to append "started cmdline=... show=... tick=... freq=..." to
//   STANDIN_MODE  normal | slow-ready | exit-at-once | never-idle
//   STANDIN_LIFETIME_MS, STANDIN_READY_DELAY_MS
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::wstring Env(const wchar_t* name) {
    wchar_t buffer[1024];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
    return (n > 0 && n < 1024) ? std::wstring(buffer, n) : std::wstring();
}

DWORD EnvMs(const wchar_t* name, DWORD fallback) {
    const std::wstring text = Env(name);
    if (text.empty()) return fallback;
    return static_cast<DWORD>(wcstoul(text.c_str(), nullptr, 10));
}

std::string Utf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

void LogStart() {
    const std::wstring path = Env(L"STANDIN_LOG");
    if (path.empty()) return;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
    LARGE_INTEGER tick{}, freq{};
    QueryPerformanceCounter(&tick);
    QueryPerformanceFrequency(&freq);
    char tail[128];
    std::snprintf(tail, sizeof tail, " show=%d tick=%lld freq=%lld\r\n", show, static_cast<long long>(tick.QuadPart),
                  static_cast<long long>(freq.QuadPart));
    const std::string line = "started cmdline=" + Utf8(GetCommandLineW()) + tail;
    // FILE_APPEND_DATA alone: concurrent starts each add a whole line.
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

int RunWindow(HINSTANCE instance, int show, DWORD lifetimeMs) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"NorvaskStandIn";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"NorvaskStandIn", L"NORVASK stand-in", WS_OVERLAPPEDWINDOW, 0, 0, 320, 200,
                                  nullptr, nullptr, instance, nullptr);
    if (!window) return 0;
    ShowWindow(window, show);
    SetTimer(window, 1, lifetimeMs, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    LogStart();
    const std::wstring mode = Env(L"STANDIN_MODE");
    if (mode == L"exit-at-once") return 0;
    if (mode == L"never-idle") {
        // No message queue is ever read, so the process never becomes input-idle.
        const DWORD lifetime = EnvMs(L"STANDIN_LIFETIME_MS", 40000);
        const ULONGLONG end = GetTickCount64() + lifetime;
        while (GetTickCount64() < end) Sleep(50);
        return 0;
    }
    if (mode == L"slow-ready") Sleep(EnvMs(L"STANDIN_READY_DELAY_MS", 1500));
    return RunWindow(instance, show, EnvMs(L"STANDIN_LIFETIME_MS", 3000));
}
