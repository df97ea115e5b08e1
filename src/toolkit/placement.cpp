#include "toolkit/placement.h"

#include "toolkit/handles.h"
#include "toolkit/layout.h"
#include "toolkit/system_libraries.h"

namespace toolkit {

RECT DesktopRect() {
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    return {left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN), top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

POINT CentredOn(const RECT& desktop, SIZE size) {
    const long width = desktop.right - desktop.left;
    const long height = desktop.bottom - desktop.top;
    POINT corner{desktop.left + width / 2 - size.cx / 2, desktop.top + height / 2 - size.cy / 2};
    if (corner.x < desktop.left) corner.x = desktop.left;
    if (corner.y < desktop.top) corner.y = desktop.top;
    return corner;
}

int DisplayDpi() {
    const RECT desktop = DesktopRect();
    const POINT centre{desktop.left + (desktop.right - desktop.left) / 2,
                       desktop.top + (desktop.bottom - desktop.top) / 2};
    // shcore.dll, held by the application object, is absent before Windows 8.1.
    using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    const auto getDpi = FindSystemFunction<GetDpiForMonitorFn>(L"shcore.dll", "GetDpiForMonitor");
    constexpr int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI
    UINT x = 0, y = 0;
    if (getDpi && SUCCEEDED(getDpi(MonitorFromPoint(centre, MONITOR_DEFAULTTONEAREST), kEffectiveDpi, &x, &y)) &&
        x > 0) {
        return static_cast<int>(x);
    }
    const ScreenDc screen;
    const int dpi = GetDeviceCaps(screen.get(), LOGPIXELSX);
    return dpi > 0 ? dpi : kLayoutDpi;
}

}  // namespace toolkit
