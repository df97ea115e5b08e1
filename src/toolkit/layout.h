#pragma once
// A window's layout as data: the form class declares one FormLayout with its
// controls in creation order, and TForm builds the window from it. Lengths
// are in pixels at 96 dpi; the form scales them to the display's DPI.
#include "toolkit/accessibility.h"

#include <windows.h>

#include <span>
#include <variant>

namespace toolkit {

class TObject;
class TImage;
class TLabel;
class TProgressBar;
class TTimer;

enum class TCloseAction { caNone, caHide, caFree, caMinimize };
enum class TAlign { alNone, alTop };

// A system colour (COLOR_*) or a fixed RGB value.
struct TColor {
    static constexpr TColor System(int index) { return {true, static_cast<COLORREF>(index)}; }
    static constexpr TColor Rgb(BYTE r, BYTE g, BYTE b) { return {false, RGB(r, g, b)}; }
    COLORREF Resolve() const { return system ? GetSysColor(static_cast<int>(value)) : value; }
    bool system;
    COLORREF value;
};

// The DPI every length in a layout is given at.
inline constexpr int kLayoutDpi = 96;

// A layout length at `dpi`.
inline int ScaleToDpi(int length, int dpi) { return MulDiv(length, dpi, kLayoutDpi); }

// Height is the em height in pixels (a negative lfHeight), not the cell height.
struct FontLayout {
    const wchar_t* face;
    int height;
    bool bold = false;
    bool italic = false;
    BYTE charset = DEFAULT_CHARSET;
    TColor colour = TColor::System(COLOR_WINDOWTEXT);
};

struct Bounds {
    int left, top, width, height;
};

inline RECT ScaleToDpi(const Bounds& bounds, int dpi) {
    const int left = ScaleToDpi(bounds.left, dpi), top = ScaleToDpi(bounds.top, dpi);
    return {left, top, left + ScaleToDpi(bounds.width, dpi), top + ScaleToDpi(bounds.height, dpi)};
}

template <class Form>
struct ImageLayout {
    TImage Form::*control;
    Bounds bounds;
    const wchar_t* picture;  // RCDATA resource name
    TAlign align = TAlign::alNone;
};

template <class Form>
struct LabelLayout {
    TLabel Form::*control;
    Bounds bounds;
    const wchar_t* caption;
    FontLayout font;
    TLiveSetting live = TLiveSetting::Off;  // how a screen reader announces a new caption
};

template <class Form>
struct ProgressBarLayout {
    TProgressBar Form::*control;
    Bounds bounds;
    int min = 0;
    int max = 100;
    int position = 0;
};

template <class Form>
struct TimerLayout {
    TTimer Form::*control;
    UINT interval;
    bool enabled;
    void (Form::*onTimer)(TObject& Sender);
};

template <class Form>
using ControlLayout = std::variant<ImageLayout<Form>, LabelLayout<Form>, ProgressBarLayout<Form>, TimerLayout<Form>>;

template <class Form>
struct FormLayout {
    const wchar_t* windowClass;
    const wchar_t* caption;
    int clientWidth;
    int clientHeight;
    TColor colour;
    const wchar_t* icon;  // resource name of the window's icon
    // What a screen reader calls the window, where it differs from the caption.
    const wchar_t* accessibleName = nullptr;
    void (Form::*onClose)(TObject& Sender, TCloseAction& Action);
    std::span<const ControlLayout<Form>> controls;
};

}  // namespace toolkit
