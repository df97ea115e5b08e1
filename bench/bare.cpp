// The floor to compare the launcher against: a borderless 729x441 window with
// only a classic progress bar, gone 1 s after creation. Its stages are marked
// as the launcher's are (bench/stage_log.cpp), so the two can be set side by side.
#include <windows.h>
#include <commctrl.h>

#include "toolkit/stage_scope.h"

namespace {
LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
            DestroyWindow(window);
            return 0;
        case WM_PAINT: {
            toolkit::StageScope stage("paint");
            return DefWindowProcW(window, message, wParam, lParam);
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    toolkit::BeginStage("start-up");
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    toolkit::EndStage("start-up");
    toolkit::BeginStage("form");
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNHIGHLIGHT + 1);
    windowClass.lpszClassName = L"VelquorBenchBare";
    RegisterClassW(&windowClass);
    const int width = 729, height = 441;
    HWND window = CreateWindowExW(
        0, L"VelquorBenchBare", L"bare", WS_POPUP, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
        (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, nullptr, nullptr, instance, nullptr);
    CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, 8, 408, 713, 25, window, nullptr, instance,
                    nullptr);
    SetTimer(window, 1, 1000, nullptr);
    toolkit::EndStage("form");
    ShowWindow(window, show);
    UpdateWindow(window);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // When main is done, so the driver can tell Wine's process teardown apart.
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    wchar_t path[MAX_PATH];
    if (GetEnvironmentVariableW(L"VELQUOR_BENCH_STAMP", path, MAX_PATH)) {
        HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        if (file != INVALID_HANDLE_VALUE) WriteFile(file, &now.QuadPart, sizeof now.QuadPart, &written, nullptr);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    return 0;
}
