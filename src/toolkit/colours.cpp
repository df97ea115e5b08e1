#include "toolkit/colours.h"

#include <algorithm>
#include <cmath>

namespace toolkit {

namespace {

double Linear(BYTE channel) {
    const double c = channel / 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double Luminance(COLORREF c) {
    return 0.2126 * Linear(GetRValue(c)) + 0.7152 * Linear(GetGValue(c)) + 0.0722 * Linear(GetBValue(c));
}

}  // namespace

double ContrastRatio(COLORREF a, COLORREF b) {
    const double first = Luminance(a), second = Luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

COLORREF ReadableInk(COLORREF ink, COLORREF background) {
    if (ContrastRatio(ink, background) >= kReadableContrast) return ink;
    constexpr COLORREF black = RGB(0, 0, 0), white = RGB(255, 255, 255);
    return ContrastRatio(black, background) >= ContrastRatio(white, background) ? black : white;
}

}  // namespace toolkit
