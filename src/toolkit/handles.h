#pragma once
// Owning wrappers for the Windows handles the toolkit creates: each one is
// released exactly once, by the object that made it.
#include <windows.h>

#include <utility>

namespace toolkit {

template <typename Handle, typename Release>
class Unique {
public:
    Unique() = default;
    explicit Unique(Handle handle) : handle_(handle) {}
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Unique& operator=(Unique&& other) noexcept {
        if (this != &other) reset(std::exchange(other.handle_, nullptr));
        return *this;
    }
    ~Unique() { reset(); }

    Handle get() const { return handle_; }
    Handle release() { return std::exchange(handle_, nullptr); }
    explicit operator bool() const { return handle_ != nullptr; }
    void reset(Handle handle = nullptr) {
        if (handle_) Release{}(handle_);
        handle_ = handle;
    }

private:
    Handle handle_ = nullptr;
};

struct DeleteGdiObject {
    void operator()(HGDIOBJ h) const { DeleteObject(h); }
};
struct DeleteDeviceContext {
    void operator()(HDC h) const { DeleteDC(h); }
};
struct DestroyWindowHandle {
    void operator()(HWND h) const { DestroyWindow(h); }
};
struct FreeModule {
    void operator()(HMODULE h) const { FreeLibrary(h); }
};
struct DestroyIconHandle {
    void operator()(HICON h) const { DestroyIcon(h); }
};
// A window class of this module, named by its atom; its windows must be gone first.
struct UnregisterWindowClass {
    void operator()(const wchar_t* atom) const { UnregisterClassW(atom, GetModuleHandleW(nullptr)); }
};

using FontHandle = Unique<HFONT, DeleteGdiObject>;
using BitmapHandle = Unique<HBITMAP, DeleteGdiObject>;
using MemoryDc = Unique<HDC, DeleteDeviceContext>;
using WindowHandle = Unique<HWND, DestroyWindowHandle>;
using ModuleHandle = Unique<HMODULE, FreeModule>;
using IconHandle = Unique<HICON, DestroyIconHandle>;
using ClassHandle = Unique<const wchar_t*, UnregisterWindowClass>;

// Selects a GDI object into a DC for one scope and puts the old one back.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    ~Selection() { SelectObject(dc_, old_); }

private:
    HDC dc_;
    HGDIOBJ old_;
};

// BeginPaint/EndPaint for one WM_PAINT.
class PaintScope {
public:
    explicit PaintScope(HWND window) : window_(window) { dc_ = BeginPaint(window, &paint_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    ~PaintScope() { EndPaint(window_, &paint_); }
    HDC dc() const { return dc_; }
    const RECT& area() const { return paint_.rcPaint; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// A screen-compatible DC for measuring, released at the end of the scope.
class ScreenDc {
public:
    ScreenDc() : dc_(GetDC(nullptr)) {}
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    ~ScreenDc() { ReleaseDC(nullptr, dc_); }
    HDC get() const { return dc_; }

private:
    HDC dc_;
};

}  // namespace toolkit
