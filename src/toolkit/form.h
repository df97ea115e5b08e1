#pragma once
// A borderless top-level window built from its class's FormLayout.
#include "toolkit/controls.h"
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
    TApplication& Application() const { return application_; }
    COLORREF Colour() const { return colour_.Resolve(); }
    HINSTANCE Instance() const;

    // First show: centred on the desktop, then shown as `showCommand` asks.
    void Show(int showCommand);
    // Invalidates the whole window and paints it now, without the message loop.
    void Repaint();
    void Invalidate(const RECT& area);
    void Close();

    // Used by the controls while they are created.
    void AddGraphic(TGraphicControl& control) { graphics_.push_back(&control); }
    void AddAligned(TImage& image) { aligned_.push_back(&image); }
    void AddTimer(TTimer& timer) { timers_.push_back(&timer); }

protected:
    template <class Form>
    void Build(Form& self, const FormLayout<Form>& layout);

private:
    struct WindowSpec {
        const wchar_t* windowClass;
        const wchar_t* caption;
        int clientWidth;
        int clientHeight;
        const FontSpec& font;
        const wchar_t* icon;
    };
    void CreateWindowFrom(const WindowSpec& design);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Paint();
    void Realign();
    void HandleClose();
    void HandleTimer(UINT_PTR id);

    template <class Form>
    void Add(Form&, const ImageLayout<Form>& design);
    template <class Form>
    void Add(Form&, const LabelLayout<Form>& design);
    template <class Form>
    void Add(Form&, const ProgressBarLayout<Form>& design);
    template <class Form>
    void Add(Form&, const TimerLayout<Form>& design);

    TApplication& application_;
    WindowHandle window_;
    TColor colour_ = TColor::System(COLOR_BTNFACE);
    FontHandle font_;
    bool shown_ = false;
    std::vector<TGraphicControl*> graphics_;
    std::vector<TImage*> aligned_;
    std::vector<TTimer*> timers_;
    std::function<void(TObject&, TCloseAction&)> onClose_;
};

template <class Form>
void TForm::Build(Form& self, const FormLayout<Form>& layout) {
    colour_ = layout.colour;
    CreateWindowFrom(
        {layout.windowClass, layout.caption, layout.clientWidth, layout.clientHeight, layout.font, layout.icon});
    if (layout.onClose) {
        onClose_ = [&self, handler = layout.onClose](TObject& sender, TCloseAction& action) {
            (self.*handler)(sender, action);
        };
    }
    for (const auto& control : layout.controls) {
        std::visit([&](const auto& design) { Add(self, design); }, control);
    }
}

template <class Form>
void TForm::Add(Form& self, const ImageLayout<Form>& design) {
    (self.*design.control).Create(*this, design.bounds, design.picture, design.align, design.stretch);
}

template <class Form>
void TForm::Add(Form& self, const LabelLayout<Form>& design) {
    (self.*design.control).Create(*this, design.bounds, design.caption, design.font);
}

template <class Form>
void TForm::Add(Form& self, const ProgressBarLayout<Form>& design) {
    (self.*design.control).Create(*this, design.bounds, design.min, design.max, design.position, design.tabOrder);
}

template <class Form>
void TForm::Add(Form& self, const TimerLayout<Form>& design) {
    auto handler = [&self, onTimer = design.onTimer](TObject& sender) { (self.*onTimer)(sender); };
    (self.*design.control).Create(*this, design.interval, design.enabled, handler);
}

}  // namespace toolkit
