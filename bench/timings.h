#pragma once
// What the driver times in its own process, each figure beside its floor in the same round: the
// launcher's picture path at 96 dpi against the floors under it, and Sleep(100), the floor of the
// launcher's two 100-ms holds.

#include <string>

#include "statistics.h"

namespace bench {

struct InProcessTimes {
    Samples banner, logo, both;  // decoded and scaled to the layout's sizes
    Samples logoDecode;          // the PNG reader alone, rows dropped
    Samples bannerFloor, logoInflate, logoChecksum;
    Samples sleep100;
    double firstBoth = kNotSeen;  // the first, cold, call
};

InProcessTimes TimeInProcess(const std::wstring& banner, const std::wstring& logo, int rounds);

}  // namespace bench
