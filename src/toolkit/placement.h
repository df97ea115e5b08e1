#pragma once
#include <windows.h>

namespace toolkit {

// The rectangle that encloses all monitors.
RECT DesktopRect();

// Top-left corner that centres a window of `size` on `desktop`: each half is
// truncated on its own, and a result left of or above the desktop's origin is
// moved back to it.
POINT CentredOn(const RECT& desktop, SIZE size);

// The DPI of the monitor nearest the desktop's centre, where windows are
// centred: per monitor where Windows tells it (8.1 and later, through the
// shcore.dll the application object holds), else the screen's.
int DisplayDpi();

}  // namespace toolkit
