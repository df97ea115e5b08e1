#include "toolkit/form.h"

#include "toolkit/application.h"
#include "toolkit/errors.h"
#include "toolkit/placement.h"
#include "toolkit/stage_scope.h"

#include <algorithm>
#include <utility>

namespace toolkit {

namespace {

// One window class per form: a second live form of the same class fails here.
ClassHandle RegisterFormClass(HINSTANCE instance, const wchar_t* name, WNDPROC procedure, HICON big, HICON small) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = big;
    windowClass.hIconSm = small;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.lpszClassName = name;
    const ATOM atom = RegisterClassExW(&windowClass);
    Check(atom != 0, "RegisterClassEx");
    return ClassHandle(MAKEINTATOM(atom));
}

// The icon's image nearest `size`, from the icon resource's several sizes.
IconHandle LoadIconSized(HINSTANCE instance, const wchar_t* name, int size) {
    return IconHandle(static_cast<HICON>(LoadImageW(instance, name, IMAGE_ICON, size, size, 0)));
}

}  // namespace

TForm::~TForm() {
    // The controls are gone by now; the window must not reach them.
    if (window_) SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
}

HINSTANCE TForm::Instance() const { return GetModuleHandleW(nullptr); }

void TForm::CreateWindowFrom(const wchar_t* windowClass, const wchar_t* caption) {
    dpi_ = application_.ReadDisplayDpi();
    classIcons_ = LoadIcons();
    class_ = RegisterFormClass(Instance(), windowClass, WindowProc, classIcons_.big.get(), classIcons_.small.get());
    const SIZE size = ScaledClientSize();
    // No caption and no frame: the outer size is the client size. The system
    // menu style keeps the taskbar button's Close working.
    const DWORD style = WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX;
    const DWORD exStyle = application_.MainFormOnTaskBar ? WS_EX_APPWINDOW : 0;
    HWND window = CreateWindowExW(exStyle, class_.get(), caption, style, 0, 0, size.cx, size.cy, nullptr, nullptr,
                                  Instance(), this);
    Check(window != nullptr, "CreateWindowEx");  // WM_NCCREATE has taken ownership
}

SIZE TForm::ScaledClientSize() const { return {ScaleToDpi(clientWidth_, dpi_), ScaleToDpi(clientHeight_, dpi_)}; }

// The taskbar and Alt+Tab show the icon at the sizes for the DPI.
TForm::Icons TForm::LoadIcons() const {
    return {LoadIconSized(Instance(), icon_, ScaleToDpi(32, dpi_)),
            LoadIconSized(Instance(), icon_, ScaleToDpi(16, dpi_))};
}

// The window's own icons take the place of its class's.
void TForm::SetIcons() {
    Icons icons = LoadIcons();
    SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icons.big.get()));
    SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icons.small.get()));
    windowIcons_ = std::move(icons);  // the old ones are released only once replaced
}

LRESULT CALLBACK TForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* form = static_cast<TForm*>(create->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
        form->window_.reset(window);
    }
    auto* form = reinterpret_cast<TForm*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!form) return DefWindowProcW(window, message, wParam, lParam);
    LRESULT result = 0;
    form->application_.Guard([&] { result = form->HandleMessage(message, wParam, lParam); });
    return result;
}

LRESULT TForm::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND:
            return 1;  // WM_PAINT covers every pixel
        case WM_PAINT:
            Paint();
            return 0;
        case WM_SIZE:
            Realign();
            break;
        case WM_TIMER:
            HandleTimer(wParam);
            return 0;
        case WM_DPICHANGED:
            HandleDpiChange();
            return 0;
        case WM_CLOSE:
            HandleClose();
            return 0;
        case WM_DRAWITEM:
            PaintChild(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_GETOBJECT:
            annotations_.Apply();  // before the reader's proxy is made, so that it sees them
            break;
        case WM_DESTROY:
            annotations_.Clear();
            break;
        case WM_NCDESTROY:
            SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
            (void)window_.release();
            break;
    }
    return DefWindowProcW(window_.get(), message, wParam, lParam);
}

void TForm::Show(int showCommand) {
    if (!shown_) {
        PlaceOnDesktop();
        shown_ = true;
    }
    ShowWindow(Handle(), showCommand);
    UpdateWindow(Handle());
}

void TForm::PlaceOnDesktop() {
    const SIZE size = ScaledClientSize();
    const POINT corner = CentredOn(DesktopRect(), size);
    SetWindowPos(Handle(), nullptr, corner.x, corner.y, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The layout follows the monitor the window is centred on, not the one Windows
// puts it on: a window straddling two scales then keeps one size instead of
// bouncing between two, and a change of scale still reaches it.
void TForm::HandleDpiChange() {
    const int dpi = application_.ReadDisplayDpi();
    if (dpi != dpi_) ApplyDpi(dpi);
    PlaceOnDesktop();
}

void TForm::ApplyDpi(int dpi) {
    dpi_ = dpi;
    SetIcons();
    for (TControl* control : controls_) control->ApplyDpi(dpi);
    InvalidateRect(Handle(), nullptr, FALSE);
}

void TForm::Repaint() {
    RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RaiseAnnouncements();  // a hidden window is never painted, yet its news still count
}

void TForm::Announce(HWND liveRegion) {
    if (std::find(announcements_.begin(), announcements_.end(), liveRegion) == announcements_.end())
        announcements_.push_back(liveRegion);
}

void TForm::RaiseAnnouncements() {
    for (HWND liveRegion : std::exchange(announcements_, {})) RaiseLiveRegionChanged(liveRegion);
}

void TForm::Invalidate(const RECT& area) { InvalidateRect(Handle(), &area, FALSE); }

void TForm::Paint() {
    StageScope stage("paint");
    {
        PaintScope paint(Handle());
        Compose(paint.dc(), paint.area(), {paint.area().left, paint.area().top});
    }
    RaiseAnnouncements();
}

// A label's static shows the very pixels the form's own pass gives its place.
void TForm::PaintChild(const DRAWITEMSTRUCT& item) const {
    if (item.CtlType != ODT_STATIC) return;
    RECT area = item.rcItem;
    MapWindowPoints(item.hwndItem, Handle(), reinterpret_cast<POINT*>(&area), 2);
    Compose(item.hDC, area, {item.rcItem.left, item.rcItem.top});
}

// Draws `area` of the client in one off-screen pass, then copies it to
// `target` at `at` in one go: nothing flickers when labels change.
void TForm::Compose(HDC target, const RECT& area, POINT at) const {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0) return;
    MemoryDc buffer(CreateCompatibleDC(target));
    BitmapHandle surface(CreateCompatibleBitmap(target, width, height));
    Check(buffer && surface, "CreateCompatibleBitmap");
    Selection selected(buffer.get(), surface.get());
    SetViewportOrgEx(buffer.get(), -area.left, -area.top, nullptr);  // the controls draw in client coordinates
    SetDCBrushColor(buffer.get(), Colour());
    FillRect(buffer.get(), &area, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    for (const TGraphicControl* control : graphics_) {
        RECT overlap;
        if (IntersectRect(&overlap, &control->BoundsRect(), &area)) control->Paint(buffer.get());
    }
    BitBlt(target, at.x, at.y, width, height, buffer.get(), area.left, area.top, SRCCOPY);
}

void TForm::Realign() {
    RECT client;
    GetClientRect(Handle(), &client);
    if (client.right <= 0) return;  // minimised
    for (TImage* image : aligned_) {
        RECT bounds = image->BoundsRect();
        bounds.left = client.left;
        bounds.right = client.right;
        bounds.bottom = client.top + (bounds.bottom - bounds.top);
        bounds.top = client.top;
        image->SetBounds(bounds);
    }
}

// The handler chooses a close action, but a form is only ever the main form
// (see CreateForm): closing it ends the application whatever the handler
// chose, and the application object destroys the window at the end.
void TForm::HandleClose() {
    if (closeRefused_) return;
    TCloseAction action = TCloseAction::caHide;
    if (onClose_) onClose_(*this, action);
    application_.Terminate();
}

void TForm::HandleTimer(UINT_PTR id) {
    if (application_.ShowingError()) return;
    for (TTimer* timer : timers_) {
        if (timer->Id() == id && timer->Enabled()) timer->Tick();
    }
}

}  // namespace toolkit
