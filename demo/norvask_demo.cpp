// A stand-in for the product, for showing the whole launch: it takes a moment
// before it is ready, so the splash is seen waiting for it, then shows a
// plain window that says what it is and closes itself after a few seconds.
#include <windows.h>

namespace {

constexpr UINT_PTR kCloseTimer = 1;

LRESULT CALLBACK DemoProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            RECT client;
            GetClientRect(window, &client);
            SetBkMode(dc, TRANSPARENT);
            DrawTextW(dc, L"NORVASK\n\nProduto de demonstra\u00E7\u00E3o iniciado pelo VELQUOR.", -1, &client,
                      DT_CENTER | DT_VCENTER | DT_WORDBREAK);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_TIMER:
            if (wParam == kCloseTimer) DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    Sleep(1500);  // "loading": the launcher waits until this program is ready for input
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DemoProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"NorvaskDemo";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"NorvaskDemo", L"NORVASK (demonstra\u00E7\u00E3o)", WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 420, 180, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    ShowWindow(window, show);
    SetTimer(window, kCloseTimer, 4000, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
