#pragma once
// A borderless top-level window built from its class's FormLayout, laid out
// at the DPI of the monitor it is centred on.
#include "toolkit/accessibility.h"
#include "toolkit/controls.h"
#include "toolkit/fonts.h"
#include "toolkit/handles.h"
#include "toolkit/layout.h"

#include <functional>
#include <string>
#include <vector>

namespace toolkit {

class TApplication;

class TForm : public TObject {
public:
    explicit TForm(TApplication& owner) : application_(owner) {}
    ~TForm() override;

    HWND Handle() const { return window_.get(); }
    COLORREF Colour() const { return colour_.Resolve(); }
    HINSTANCE Instance() const;
    // The DPI the layout is drawn at.
    int Dpi() const { return dpi_; }
    FaceResolver& Faces() { return faces_; }
    AccessibleAnnotations& Annotations() { return annotations_; }

    // First show: centred on the desktop, then shown as `showCommand` asks.
    void Show(int showCommand);
    // Invalidates the whole window and paints it now, without the message loop.
    void Repaint();
    // Raises a live-region event for `liveRegion` once the window is next painted:
    // a screen reader that asks at once then finds the thread free to answer.
    void Announce(HWND liveRegion);
    void Invalidate(const RECT& area);
    // While refused, a close asked for in any way (WM_CLOSE, the system
    // menu's or the taskbar's Close, from any process) is ignored.
    void RefuseClose(bool refused) { closeRefused_ = refused; }

    // Used by the controls while they are created.
    void AddGraphic(TGraphicControl& control) {
        graphics_.push_back(&control);
        AddControl(control);
    }
    void AddControl(TControl& control) { controls_.push_back(&control); }
    void AddAligned(TImage& image) { aligned_.push_back(&image); }
    void AddTimer(TTimer& timer) { timers_.push_back(&timer); }

protected:
    template <class Form>
    void Build(Form& self, const FormLayout<Form>& layout);

private:
    void CreateWindowFrom(const wchar_t* windowClass, const wchar_t* caption);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Paint();
    void Compose(HDC target, const RECT& area, POINT at) const;
    void PaintChild(const DRAWITEMSTRUCT& item) const;
    void RaiseAnnouncements();
    void Realign();
    void HandleDpiChange();
    void PlaceOnDesktop();
    void ApplyDpi(int dpi);
    void SetIcons();
    SIZE ScaledClientSize() const;
    void HandleClose();
    void HandleTimer(UINT_PTR id);

    template <class Form>
    void Add(Form&, const ImageLayout<Form>& layout);
    template <class Form>
    void Add(Form&, const LabelLayout<Form>& layout);
    template <class Form>
    void Add(Form&, const ProgressBarLayout<Form>& layout);
    template <class Form>
    void Add(Form&, const TimerLayout<Form>& layout);

    // A window's icons, as the taskbar and Alt+Tab show them.
    struct Icons {
        IconHandle big;
        IconHandle small;
    };
    Icons LoadIcons() const;

    TApplication& application_;
    // The form's own class, carrying the icons for the DPI the window is made at: the class is
    // registered anyway, and a start then sends the window no WM_SETICON, each one more work
    // for the system. Declared before the window, so that the window goes first, then the
    // class, then its icons.
    Icons classIcons_;
    ClassHandle class_;
    WindowHandle window_;
    TColor colour_ = TColor::System(COLOR_BTNFACE);
    int clientWidth_ = 0;  // at 96 dpi
    int clientHeight_ = 0;
    const wchar_t* icon_ = nullptr;
    int dpi_ = kLayoutDpi;
    FaceResolver faces_;
    Icons windowIcons_;  // set on the window when the DPI changes
    // Declared after the window, so cleared and released while it still exists.
    AccessibleAnnotations annotations_;
    bool shown_ = false;
    bool closeRefused_ = false;
    std::vector<TControl*> controls_;
    std::vector<TGraphicControl*> graphics_;
    std::vector<TImage*> aligned_;
    std::vector<TTimer*> timers_;
    std::vector<HWND> announcements_;
    std::function<void(TObject&, TCloseAction&)> onClose_;
};

template <class Form>
void TForm::Build(Form& self, const FormLayout<Form>& layout) {
    colour_ = layout.colour;
    clientWidth_ = layout.clientWidth;
    clientHeight_ = layout.clientHeight;
    icon_ = layout.icon;
    CreateWindowFrom(layout.windowClass, layout.caption);
    if (layout.accessibleName) annotations_.Name(Handle(), layout.accessibleName);
    if (layout.onClose) {
        onClose_ = [&self, handler = layout.onClose](TObject& sender, TCloseAction& action) {
            (self.*handler)(sender, action);
        };
    }
    for (const auto& control : layout.controls) {
        std::visit([&](const auto& entry) { Add(self, entry); }, control);
    }
    // A screen reader asks as soon as the window shows; anything else that reads
    // the window's accessible objects is answered from its first question on.
    if (ScreenReaderRunning()) annotations_.Apply();
}

template <class Form>
void TForm::Add(Form& self, const ImageLayout<Form>& layout) {
    (self.*layout.control).Create(*this, layout.bounds, layout.picture, layout.align);
}

template <class Form>
void TForm::Add(Form& self, const LabelLayout<Form>& layout) {
    (self.*layout.control).Create(*this, layout.bounds, layout.caption, layout.font, layout.live);
}

template <class Form>
void TForm::Add(Form& self, const ProgressBarLayout<Form>& layout) {
    (self.*layout.control).Create(*this, layout.bounds, layout.min, layout.max, layout.position);
}

template <class Form>
void TForm::Add(Form& self, const TimerLayout<Form>& layout) {
    auto handler = [&self, onTimer = layout.onTimer](TObject& sender) { (self.*onTimer)(sender); };
    (self.*layout.control).Create(*this, layout.interval, layout.enabled, handler);
}

}  // namespace toolkit
