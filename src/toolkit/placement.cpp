#include "toolkit/placement.h"

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

}  // namespace toolkit
