// What the e2e and hardening drivers both need to run the real launcher under
// Wine and watch it from outside: paths, polling, windows, screen pixels,
// the process and the stand-in product at C:\VELQUOR; and the 96-dpi layout's
// lengths at another DPI, which the unit tests check the form against too.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace launcher_driver {

constexpr RECT kBar{8, 408, 8 + 713, 408 + 25};
inline constexpr wchar_t kProductDir[] = L"C:\\VELQUOR";
inline constexpr wchar_t kProductExe[] = L"C:\\VELQUOR\\NORVASK.exe";

// ----- files -----

// The build gives Unix paths; Wine shows the Unix root as Z:.
std::wstring WindowsPath(const char* unixPath);
std::wstring TempPath(const wchar_t* name);
bool Exists(const std::wstring& path);
// The non-empty lines of a text file, without their CR.
std::vector<std::string> Lines(const std::wstring& path);

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

// ----- windows -----

std::wstring ClassOf(HWND window);
std::wstring TextOf(HWND window);
// Top-level windows of a process, hidden ones included.
std::vector<HWND> TopLevelWindows(DWORD pid);
// The launcher's splash: class Tfrm_abertura, caption frm_abertura.
HWND SplashOf(DWORD pid);

// ----- the layout at a DPI -----

// A length of the 96-dpi layout at `dpi`, rounded to the nearest pixel.
inline int Scaled(int length, int dpi) { return MulDiv(length, dpi, 96); }
// A rectangle of the 96-dpi layout at `dpi`: its corner and its size each scaled on their own.
inline RECT Scaled(const RECT& r, int dpi) {
    const int left = Scaled(r.left, dpi), top = Scaled(r.top, dpi);
    return {left, top, left + Scaled(r.right - r.left, dpi), top + Scaled(r.bottom - r.top, dpi)};
}

// ----- the screen -----

// The status line's green, at the body of its letters or at their smoothed edges.
inline bool IsGreenish(COLORREF c) {
    return GetGValue(c) >= 80 && GetGValue(c) > GetRValue(c) + 40 && GetGValue(c) > GetBValue(c) + 40;
}

struct Pixels {
    int width = 0, height = 0;
    std::vector<COLORREF> rgb;
    COLORREF At(int x, int y) const { return rgb[static_cast<size_t>(y * width + x)]; }
};

// Copies a screen rectangle: what the user sees, whoever drew it.
Pixels Capture(const RECT& area);
RECT OnScreen(HWND window, const RECT& client);
bool Near(COLORREF a, COLORREF b);
inline bool Differs(COLORREF a, COLORREF b) { return !Near(a, b); }
// How much of the bar's inside is filled, 0..1, read along its middle row:
// the inside's right end is empty at every position the launcher uses.
double BarFill(HWND splash);

// ----- processes -----

struct ProcessEntry {
    DWORD pid, parent;
    std::wstring image;
};

std::vector<ProcessEntry> Processes();
// Lets a process end within 10 s, else ends it.
void EndProcess(DWORD pid);

struct Show {
    bool set = false;
    WORD command = SW_SHOWNORMAL;
};

// One run of a program; ended on destruction if it still runs.
class Launch {
public:
    explicit Launch(const std::wstring& exe, Show show = {}, const std::wstring& arguments = {});
    ~Launch();
    Launch(const Launch&) = delete;
    Launch& operator=(const Launch&) = delete;

    bool Started() const { return started_; }
    DWORD Pid() const { return process_.dwProcessId; }
    bool Running() const;
    bool WaitExit(std::chrono::milliseconds limit) const;
    DWORD ExitCode() const;
    // The splash once it is on the screen.
    HWND WaitSplash(std::chrono::milliseconds limit = std::chrono::seconds(15)) const;

private:
    PROCESS_INFORMATION process_{};
    bool started_ = false;
};

// ----- the stand-in product -----

// Points the stand-in's log at `log` and clears its other settings.
void ResetStandIn(const std::wstring& log);
// Copies the stand-in to C:\VELQUOR (asserts on failure) and sets its mode.
void InstallStandIn(const std::wstring& standIn, const wchar_t* mode);
// Retries while a product that just ended still holds its file.
void RemoveProduct();

}  // namespace launcher_driver
