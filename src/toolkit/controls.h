#pragma once
// The controls a form is built from. Pictures and labels are drawn by their
// form in one off-screen pass, without flicker; a label also has a window of
// its own, a standard static control with its text, which is what a screen
// reader reads. The progress bar is a common control; the timer is a
// window-message timer of the form.
#include "toolkit/accessibility.h"
#include "toolkit/fonts.h"
#include "toolkit/handles.h"
#include "toolkit/layout.h"
#include "pictures/image.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace toolkit {

class TForm;

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};

// A control with a place in the layout: the form places it anew at every DPI.
class TControl : public TObject {
public:
    virtual void ApplyDpi(int dpi) = 0;
};

// A control without a window: its form paints it in creation order.
class TGraphicControl : public TControl {
public:
    const RECT& BoundsRect() const { return bounds_; }
    virtual void Paint(HDC dc) const = 0;

protected:
    void Place(TForm& form, const Bounds& layout);
    void SetBoundsRect(const RECT& bounds);
    TForm* form_ = nullptr;
    Bounds layout_{};  // at 96 dpi
    RECT bounds_{};    // at the form's DPI
};

class TImage : public TGraphicControl {
public:
    void Create(TForm& form, const Bounds& bounds, const wchar_t* picture, TAlign align);
    // Moves the picture and scales it anew when its size changes.
    void SetBounds(const RECT& bounds);
    void ApplyDpi(int dpi) override;
    void Paint(HDC dc) const override;

private:
    void Render();
    std::span<const std::uint8_t> picture_;
    pictures::Image image_;  // at the control's size, in the layout a DIB takes
};

class TLabel : public TGraphicControl {
public:
    void Create(TForm& form, const Bounds& bounds, const wchar_t* caption, const FontLayout& font, TLiveSetting live);
    const std::wstring& Caption() const { return caption_; }
    // A live label's new text is announced to screen readers once it is painted.
    void SetCaption(std::wstring caption);
    HFONT Font() const { return font_.handle.get(); }
    // A new font for the DPI, and the label sized to its text in it.
    void ApplyDpi(int dpi) override;
    void Paint(HDC dc) const override;

private:
    void AutoSize();
    HWND window_ = nullptr;  // the static a screen reader reads; it goes with its form's window
    TLiveSetting live_ = TLiveSetting::Off;
    std::wstring caption_;
    FontLayout fontLayout_{};
    toolkit::Font font_;
    std::vector<int> advances_;  // where the font is drawn condensed
    COLORREF colour_ = 0;
};

class TProgressBar : public TControl {
public:
    void Create(TForm& form, const Bounds& bounds, int min, int max, int position);
    HWND Handle() const { return window_.get(); }
    int Position() const;
    void SetPosition(int position);
    void ApplyDpi(int dpi) override;

private:
    Bounds layout_{};
    WindowHandle window_;
};

class TTimer : public TObject {
public:
    using Handler = std::function<void(TObject& Sender)>;
    ~TTimer() override;
    // Armed at once when `enabled`; it stays so until the form goes.
    void Create(TForm& form, UINT interval, bool enabled, Handler onTimer);
    bool Enabled() const { return enabled_; }
    UINT_PTR Id() const { return reinterpret_cast<UINT_PTR>(this); }
    void Tick() { onTimer_(*this); }

private:
    TForm* form_ = nullptr;
    bool enabled_ = false;
    Handler onTimer_;
};

}  // namespace toolkit
