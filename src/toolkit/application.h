#pragma once
// The application object: owns every form, runs the event loop on the one UI
// thread, and turns an error raised in any handler into the standard error
// box instead of letting it cross a Windows callback.
#include "toolkit/form.h"
#include "toolkit/handles.h"
#include "toolkit/placement.h"

#include <commctrl.h>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace toolkit {

class TApplication {
public:
    TApplication() = default;
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // Narrows the DLL search to the system folder, loads the common controls
    // and, where this Windows has it, shcore.dll for each monitor's DPI.
    void Initialize();

    // When true the main form owns its taskbar button, showing its caption.
    bool MainFormOnTaskBar = false;

    // Creates a form owned by this object; the first one becomes the main form.
    // A launcher makes that one alone: closing any form ends the application.
    template <class Form, class... Extra>
    void CreateForm(Form*& reference, Extra&&... extra) {
        auto form = std::make_unique<Form>(*this, std::forward<Extra>(extra)...);
        reference = form.get();
        Adopt(std::move(form));
    }

    // Shows the main form, then dispatches events until Terminate's quit
    // request is fetched.
    void Run();
    // Posts the quit request and returns at once.
    void Terminate();
    // Whether the event loop has fetched the quit request: it runs no more.
    bool Terminated() const { return terminated_; }
    TForm* MainForm() const { return forms_.empty() ? nullptr : forms_.front().get(); }

    // Runs `handler`; an error it raises is shown and swallowed. Returns
    // false when it raised one.
    template <class Handler>
    bool Guard(Handler&& handler) noexcept {
        try {
            handler();
            return true;
        } catch (...) {
            ShowException(std::current_exception());
            return false;
        }
    }
    void ShowException(std::exception_ptr error) noexcept;
    bool ShowingError() const { return showingError_; }

    // The standard error box; tests put their own here.
    std::function<void(const std::wstring& message)> ErrorBox;
    // Reads the DPI forms are laid out at; tests put their own here.
    std::function<int()> ReadDisplayDpi = DisplayDpi;

private:
    void Adopt(std::unique_ptr<TForm> form);
    // Fetches one event and dispatches it; the quit request sets Terminated.
    void DispatchNextEvent();
    void ShowErrorBox(const std::wstring& message) const;

    // Declared before the forms, so released after them: their windows and timers need these.
    ModuleHandle themes_;  // held from the system folder for as long as the common controls
    ModuleHandle commonControls_;
    ModuleHandle shcore_;  // null before Windows 8.1
    std::vector<std::unique_ptr<TForm>> forms_;
    bool terminated_ = false;
    bool showingError_ = false;
};

// How the main form is first shown, from the process's show request.
int InitialShowCommand(bool requested, WORD showWindow);

using InitCommonControlsExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);

// Registers the window classes of the controls the forms use, through
// comctl32's `initialise`. Throws Win32Error when it fails.
void RegisterCommonControls(InitCommonControlsExFn initialise);

// The application object of this process.
extern TApplication Application;

}  // namespace toolkit
