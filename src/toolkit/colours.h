#pragma once
// Text that stays readable whatever colours the user's scheme gives the
// system colours a layout names.
#include <windows.h>

namespace toolkit {

// WCAG 2's contrast ratio of two colours: 1 (the same) to 21 (black on white).
double ContrastRatio(COLORREF a, COLORREF b);

// The least contrast WCAG 2 asks of body text.
inline constexpr double kReadableContrast = 4.5;

// `ink` where it reads on `background`; otherwise black or white, whichever
// reads better there (one of them always reads).
COLORREF ReadableInk(COLORREF ink, COLORREF background);

}  // namespace toolkit
