#include "toolkit/controls.h"

#include "toolkit/colours.h"
#include "toolkit/errors.h"
#include "toolkit/fonts.h"
#include "toolkit/form.h"
#include "toolkit/stage_scope.h"
#include "pictures/image.h"

#include <commctrl.h>

#include <numeric>

namespace toolkit {

namespace {

std::span<const std::uint8_t> LoadPictureResource(HINSTANCE instance, const wchar_t* name) {
    HRSRC found = FindResourceW(instance, name, reinterpret_cast<LPCWSTR>(RT_RCDATA));
    Check(found != nullptr, "FindResource");
    HGLOBAL loaded = LoadResource(instance, found);
    Check(loaded != nullptr, "LoadResource");
    const auto* bytes = static_cast<const std::uint8_t*>(LockResource(loaded));
    return {bytes, SizeofResource(instance, found)};
}

// The pixels as they are: a top-down 32-bpp DIB.
BITMAPINFO DibHeader(const pictures::Image& image) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = image.width;
    info.bmiHeader.biHeight = -image.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

}  // namespace

void TGraphicControl::Place(TForm& form, const Bounds& layout) {
    form_ = &form;
    layout_ = layout;
    form.AddGraphic(*this);
}

void TGraphicControl::SetBoundsRect(const RECT& bounds) {
    RECT old = bounds_;
    bounds_ = bounds;
    form_->Invalidate(old);
    form_->Invalidate(bounds_);
}

void TImage::Create(TForm& form, const Bounds& bounds, const wchar_t* picture, TAlign align) {
    Place(form, bounds);
    picture_ = LoadPictureResource(form.Instance(), picture);
    if (align == TAlign::alTop) form.AddAligned(*this);
    ApplyDpi(form.Dpi());
}

void TImage::SetBounds(const RECT& bounds) {
    const bool resized = bounds.right - bounds.left != bounds_.right - bounds_.left ||
                         bounds.bottom - bounds.top != bounds_.bottom - bounds_.top;
    SetBoundsRect(bounds);
    if (resized) Render();
}

void TImage::ApplyDpi(int dpi) { SetBounds(ScaleToDpi(layout_, dpi)); }

// Decodes and scales straight from the source once per size, so painting is a
// plain copy and no size is ever made from another.
void TImage::Render() {
    const int width = bounds_.right - bounds_.left;
    const int height = bounds_.bottom - bounds_.top;
    image_ = {};
    if (width <= 0 || height <= 0) return;
    StageScope stage("picture");
    image_ = pictures::LoadPicture(picture_, width, height, form_->Colour());
}

// Straight from the pixels: no bitmap of its own to make and fill at start.
void TImage::Paint(HDC dc) const {
    if (image_.pixels.empty()) return;
    const BITMAPINFO header = DibHeader(image_);
    SetDIBitsToDevice(dc, bounds_.left, bounds_.top, static_cast<DWORD>(image_.width),
                      static_cast<DWORD>(image_.height), 0, 0, 0, static_cast<UINT>(image_.height),
                      image_.pixels.data(), &header, DIB_RGB_COLORS);
}

// The static is transparent, so its form's one pass paints the label's place
// too and nothing shows unpainted in between; owner-drawn, so that whenever
// it paints on its own it paints the very same pixels (TForm::PaintChild).
void TLabel::Create(TForm& form, const Bounds& bounds, const wchar_t* caption, const FontLayout& font,
                    TLiveSetting live) {
    Place(form, bounds);
    fontLayout_ = font;
    colour_ = font.colour.Resolve();
    caption_ = caption;
    live_ = live;
    window_ = CreateWindowExW(WS_EX_TRANSPARENT, L"STATIC", caption, WS_CHILD | WS_VISIBLE | SS_OWNERDRAW | SS_NOPREFIX,
                              0, 0, 0, 0, form.Handle(), nullptr, form.Instance(), nullptr);
    Check(window_ != nullptr, "CreateWindowEx(static)");
    if (live != TLiveSetting::Off) form.Annotations().LiveSetting(window_, live);
    ApplyDpi(form.Dpi());
}

void TLabel::SetCaption(std::wstring caption) {
    if (caption == caption_) return;
    caption_ = std::move(caption);
    const RECT old = bounds_;
    AutoSize();
    form_->Invalidate(old);
    SetWindowTextW(window_, caption_.c_str());
    if (live_ != TLiveSetting::Off) form_->Announce(window_);
}

void TLabel::ApplyDpi(int dpi) {
    font_ = CreateFontFrom(fontLayout_, dpi, form_->Faces());
    const RECT old = bounds_;
    bounds_.left = ScaleToDpi(layout_.left, dpi);
    bounds_.top = ScaleToDpi(layout_.top, dpi);
    AutoSize();
    form_->Invalidate(old);
}

// The label is as wide as its text and as high as the font's line.
void TLabel::AutoSize() {
    ScreenDc screen;
    advances_ = CondensedAdvances(screen.get(), font_, caption_);
    Selection selected(screen.get(), font_.handle.get());
    int width = std::accumulate(advances_.begin(), advances_.end(), 0);
    if (advances_.empty()) {
        RECT measured{0, 0, 0, 0};
        DrawTextW(screen.get(), caption_.c_str(), static_cast<int>(caption_.size()), &measured,
                  DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        width = measured.right - measured.left;
    }
    TEXTMETRICW metrics{};
    GetTextMetricsW(screen.get(), &metrics);
    const RECT sized{bounds_.left, bounds_.top, bounds_.left + width, bounds_.top + metrics.tmHeight};
    SetBoundsRect(sized);
    SetWindowPos(window_, nullptr, sized.left, sized.top, sized.right - sized.left, sized.bottom - sized.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void TLabel::Paint(HDC dc) const {
    Selection selected(dc, font_.handle.get());
    // The layout's colours as designed wherever they read; a scheme that gives
    // both the same lightness gets ink that does.
    const COLORREF background = form_->Colour();
    SetTextColor(dc, ReadableInk(colour_, background));
    SetBkColor(dc, background);
    SetBkMode(dc, OPAQUE);
    RECT area = bounds_;
    ExtTextOutW(dc, area.left, area.top, ETO_OPAQUE, &area, nullptr, 0, nullptr);
    // No clipping: a face's overhang may reach a pixel past the measured width.
    if (advances_.empty()) {
        DrawTextW(dc, caption_.c_str(), static_cast<int>(caption_.size()), &area,
                  DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
    } else {
        ExtTextOutW(dc, area.left, area.top, 0, nullptr, caption_.c_str(), static_cast<UINT>(caption_.size()),
                    advances_.data());
    }
}

void TProgressBar::Create(TForm& form, const Bounds& bounds, int min, int max, int position) {
    layout_ = bounds;
    const RECT scaled = ScaleToDpi(bounds, form.Dpi());
    HWND bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, scaled.left, scaled.top,
                               scaled.right - scaled.left, scaled.bottom - scaled.top, form.Handle(), nullptr,
                               form.Instance(), nullptr);
    Check(bar != nullptr, "CreateWindowEx(progress bar)");
    window_.reset(bar);
    form.AddControl(*this);
    SendMessageW(bar, PBM_SETRANGE32, static_cast<WPARAM>(min), static_cast<LPARAM>(max));
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void TProgressBar::ApplyDpi(int dpi) {
    const RECT scaled = ScaleToDpi(layout_, dpi);
    SetWindowPos(Handle(), nullptr, scaled.left, scaled.top, scaled.right - scaled.left, scaled.bottom - scaled.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

int TProgressBar::Position() const { return static_cast<int>(SendMessageW(Handle(), PBM_GETPOS, 0, 0)); }

void TProgressBar::SetPosition(int position) { SendMessageW(Handle(), PBM_SETPOS, static_cast<WPARAM>(position), 0); }

TTimer::~TTimer() {
    if (form_ && enabled_) KillTimer(form_->Handle(), Id());
}

void TTimer::Create(TForm& form, UINT interval, bool enabled, Handler onTimer) {
    form_ = &form;
    onTimer_ = std::move(onTimer);
    form.AddTimer(*this);
    if (!enabled) return;
    Check(SetTimer(form.Handle(), Id(), interval, nullptr) != 0, "SetTimer");
    enabled_ = true;
}

}  // namespace toolkit
