#pragma once
#include <windows.h>

namespace toolkit {

// The rectangle that encloses all monitors.
RECT DesktopRect();

// Top-left corner that centres a window of `size` on `desktop`: each half is
// truncated on its own, and a result left of or above the desktop's origin is
// moved back to it.
POINT CentredOn(const RECT& desktop, SIZE size);

}  // namespace toolkit
