// Stand-in for the product the launcher starts, one program for the demo, the tests and the
// benchmark. The launcher starts it with a fixed command line, so everything comes from the
// environment, which the launcher passes on:
//   STANDIN_MODE         demo (when unset) | normal | slow-ready | exit-at-once | never-idle
//   STANDIN_READY_DELAY_MS, STANDIN_LIFETIME_MS   override the mode's wait and lifetime
//   STANDIN_LOG          file to append "started cmdline=... show=... tick=... freq=..." to
//   VELQUOR_BENCH_STAMP  file to write the start tick to (8 bytes, QueryPerformanceCounter)
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

enum class Behaviour { kWindow, kExit, kNeverIdle };

struct Mode {
    const wchar_t* name;
    Behaviour behaviour;
    DWORD readyDelayMs;  // before the first message is read: the launcher waits this long
    DWORD lifetimeMs;    // the window's life, or the whole run of a program that never reads messages
};

// The first is what an installed copy does when nobody sets a mode: the demo that the run
// command puts in C:\VELQUOR, ready for input after 1.5 s so the splash is seen waiting.
constexpr Mode kModes[] = {
    {L"demo", Behaviour::kWindow, 1500, 4000},        {L"normal", Behaviour::kWindow, 0, 3000},
    {L"slow-ready", Behaviour::kWindow, 1500, 3000},  {L"exit-at-once", Behaviour::kExit, 0, 0},
    {L"never-idle", Behaviour::kNeverIdle, 0, 40000},
};

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

const Mode& ChosenMode() {
    const std::wstring name = Env(L"STANDIN_MODE");
    for (const Mode& mode : kModes)
        if (name == mode.name) return mode;
    return kModes[0];
}

std::string Utf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

// A file that cannot be opened is left alone: the stand-in runs on without its record.
void WriteTo(const std::wstring& path, DWORD access, DWORD disposition, const void* data, DWORD size) {
    HANDLE file = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, data, size, &written, nullptr);
    CloseHandle(file);
}

void LogStart(LARGE_INTEGER tick) {
    const std::wstring path = Env(L"STANDIN_LOG");
    if (path.empty()) return;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
    LARGE_INTEGER freq{};
    QueryPerformanceFrequency(&freq);
    char tail[128];
    std::snprintf(tail, sizeof tail, " show=%d tick=%lld freq=%lld\r\n", show, static_cast<long long>(tick.QuadPart),
                  static_cast<long long>(freq.QuadPart));
    const std::string line = "started cmdline=" + Utf8(GetCommandLineW()) + tail;
    // FILE_APPEND_DATA alone: concurrent starts each add a whole line.
    WriteTo(path, FILE_APPEND_DATA, OPEN_ALWAYS, line.data(), static_cast<DWORD>(line.size()));
}

void StampStart(LARGE_INTEGER tick) {
    const std::wstring path = Env(L"VELQUOR_BENCH_STAMP");
    if (!path.empty()) WriteTo(path, GENERIC_WRITE, CREATE_ALWAYS, &tick.QuadPart, sizeof tick.QuadPart);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            RECT client;
            GetClientRect(window, &client);
            SetBkMode(dc, TRANSPARENT);
            DrawTextW(dc, L"NORVASK\n\nProduto de demonstra\u00E7\u00E3o iniciado pelo VELQUOR.", -1, &client,
                      DT_CENTER | DT_WORDBREAK);
            EndPaint(window, &paint);
            return 0;
        }
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
    // Top left, clear of the centred splash.
    HWND window = CreateWindowExW(0, L"NorvaskStandIn", L"NORVASK (demonstra\u00E7\u00E3o)", WS_OVERLAPPEDWINDOW, 0, 0,
                                  420, 180, nullptr, nullptr, instance, nullptr);
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
    LARGE_INTEGER tick{};
    QueryPerformanceCounter(&tick);  // first, for the benchmark's start-up figures
    StampStart(tick);
    LogStart(tick);
    const Mode& mode = ChosenMode();
    const DWORD lifetimeMs = EnvMs(L"STANDIN_LIFETIME_MS", mode.lifetimeMs);
    switch (mode.behaviour) {
        case Behaviour::kExit:
            return 0;
        case Behaviour::kNeverIdle: {
            // No message queue is ever read, so the process never becomes input-idle.
            const ULONGLONG end = GetTickCount64() + lifetimeMs;
            while (GetTickCount64() < end) Sleep(50);
            return 0;
        }
        case Behaviour::kWindow:
            break;
    }
    if (mode.readyDelayMs != 0) Sleep(EnvMs(L"STANDIN_READY_DELAY_MS", mode.readyDelayMs));
    return RunWindow(instance, show, lifetimeMs);
}
