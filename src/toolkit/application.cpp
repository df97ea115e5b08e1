#include "toolkit/application.h"

#include "toolkit/errors.h"
#include "toolkit/system_libraries.h"

#include <utility>

namespace toolkit {

TApplication Application;

void TApplication::Initialize() {
    // A DLL planted beside the executable must never be loaded.
    const DllSearch search = FindDllSearch();
    NarrowDllSearch(search);
    // comctl32 loads the theme DLL by its bare name later on, and may unload
    // it in between when no theme is active: held from the system folder, a
    // module already loaded under that name is what any later load takes.
    themes_ = LoadSystemLibrary(search, L"uxtheme.dll");
    commonControls_ = LoadSystemLibrary(search, L"comctl32.dll");
    shcore_ = LoadSystemLibraryIfPresent(search, L"shcore.dll");
    const auto initialise = FindSystemFunction<InitCommonControlsExFn>(L"comctl32.dll", "InitCommonControlsEx");
    Check(initialise != nullptr, "GetProcAddress(InitCommonControlsEx)");
    RegisterCommonControls(initialise);
}

void RegisterCommonControls(InitCommonControlsExFn initialise) {
    const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    // A failure sets no last error: whatever code is left there belongs to an
    // earlier call and would tell the user something false.
    if (!initialise(&classes)) throw Win32Error("InitCommonControlsEx", ERROR_CAN_NOT_COMPLETE);
}

void TApplication::Adopt(std::unique_ptr<TForm> form) { forms_.push_back(std::move(form)); }

int InitialShowCommand(bool requested, WORD showWindow) {
    if (!requested) return SW_SHOWNORMAL;
    switch (showWindow) {
        case SW_SHOWMAXIMIZED:
            return SW_SHOWMAXIMIZED;
        case SW_SHOWMINNOACTIVE:
            return SW_SHOWMINNOACTIVE;
        default:
            return SW_SHOWNORMAL;
    }
}

void TApplication::Run() {
    if (TForm* main = MainForm()) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        GetStartupInfoW(&startup);
        const bool requested = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0;
        Guard([&] { main->Show(InitialShowCommand(requested, startup.wShowWindow)); });
    }
    while (!terminated_) DispatchNextEvent();
}

void TApplication::DispatchNextEvent() {
    MSG message;
    // Zero is the quit request; the error value needs a bad window or pointer.
    if (GetMessageW(&message, nullptr, 0, 0) <= 0) {
        terminated_ = true;
        return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

void TApplication::Terminate() { PostQuitMessage(0); }

void TApplication::ShowException(std::exception_ptr error) noexcept {
    std::wstring message = L"Erro desconhecido.";
    try {
        std::rethrow_exception(error);
    } catch (const Win32Error& failed) {
        try {
            message = failed.Message();
        } catch (...) {
        }
    } catch (const std::exception& known) {
        try {
            message = Widen(known.what());
        } catch (...) {
        }
    } catch (...) {
    }
    // While the box is up its own loop runs; timers wait until it is closed,
    // and until an outer box is closed when this one opened inside it.
    const bool outerBoxUp = std::exchange(showingError_, true);
    try {
        if (ErrorBox)
            ErrorBox(message);
        else
            ShowErrorBox(message);
    } catch (...) {
    }
    showingError_ = outerBoxUp;
}

void TApplication::ShowErrorBox(const std::wstring& message) const {
    TForm* main = MainForm();
    MessageBoxW(main ? main->Handle() : nullptr, message.c_str(), L"VELQUOR", MB_OK | MB_ICONERROR);
}

}  // namespace toolkit
