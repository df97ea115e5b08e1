#include "toolkit/application.h"

#include "toolkit/errors.h"

#include <commctrl.h>

namespace toolkit {

TApplication Application;

void TApplication::Initialize() {
    // A DLL planted beside the executable must never be loaded: search the
    // system folder only, and load comctl32 from there explicitly.
    SetDllDirectoryW(L"");
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    commonControls_.reset(LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    Check(static_cast<bool>(commonControls_), "LoadLibraryEx(comctl32.dll)");
    using InitCommonControlsExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const auto initialise = reinterpret_cast<InitCommonControlsExFn>(
        reinterpret_cast<void*>(GetProcAddress(commonControls_.get(), "InitCommonControlsEx")));
    Check(initialise != nullptr, "GetProcAddress(InitCommonControlsEx)");
    const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    Check(initialise(&classes) != FALSE, "InitCommonControlsEx");
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
    MSG message;
    while (!terminated_) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            terminated_ = true;
            break;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void TApplication::Terminate() { PostQuitMessage(0); }

void TApplication::ShowException(std::exception_ptr error) noexcept {
    std::wstring message = L"Erro desconhecido.";
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& known) {
        try {
            message = Widen(known.what());
        } catch (...) {
        }
    } catch (...) {
    }
    // While the box is up its own loop runs; timers wait until it is closed.
    showingError_ = true;
    try {
        if (ErrorBox)
            ErrorBox(message);
        else
            ShowErrorBox(message);
    } catch (...) {
    }
    showingError_ = false;
}

void TApplication::ShowErrorBox(const std::wstring& message) const {
    TForm* main = MainForm();
    MessageBoxW(main ? main->Handle() : nullptr, message.c_str(), L"VELQUOR", MB_OK | MB_ICONERROR);
}

}  // namespace toolkit
