#pragma once
// The splash window: banner, logo, product name and maker, a status line and
// a progress bar; one second after creation it starts the product and ends.
#include "toolkit/application.h"
#include "toolkit/controls.h"
#include "toolkit/form.h"

namespace velquor {

using toolkit::FormLayout;
using toolkit::TApplication;
using toolkit::TCloseAction;
using toolkit::TForm;
using toolkit::TImage;
using toolkit::TLabel;
using toolkit::TLiveSetting;
using toolkit::TObject;
using toolkit::TProgressBar;
using toolkit::TTimer;

// What the launch sequence asks of the system, so it can be watched in tests.
class LaunchPlatform {
public:
    virtual ~LaunchPlatform() = default;
    // One of the sequence's holds: the window answers screen readers, and nothing else.
    virtual void Hold(DWORD milliseconds) = 0;
    virtual void WinExec(const char* commandLine, UINT showCommand) = 0;
    virtual void Terminate() = 0;
};

// The real thing: kernel32 and the application object.
class SystemLaunchPlatform final : public LaunchPlatform {
public:
    explicit SystemLaunchPlatform(TApplication& application) : application_(application) {}
    void Hold(DWORD milliseconds) override;
    void WinExec(const char* commandLine, UINT showCommand) override;
    void Terminate() override;

private:
    TApplication& application_;
};

class Tfrm_abertura : public TForm {
public:
    explicit Tfrm_abertura(TApplication& owner);
    Tfrm_abertura(TApplication& owner, LaunchPlatform& platform);

    TImage Image1;
    TImage Image2;
    TLabel Label1;
    TLabel Label2;
    TLabel Label3;
    TLabel lbl_verifica;
    TProgressBar ProgressBar1;
    TTimer Timer1;

    void Timer1Timer(TObject& Sender);
    void FormClose(TObject& Sender, TCloseAction& Action);

    static const FormLayout<Tfrm_abertura> Layout;

private:
    void ShowStep(const wchar_t* status, int position);

    SystemLaunchPlatform systemPlatform_;
    LaunchPlatform& platform_;
};

// The product, started in its own folder's name with its path quoted.
inline constexpr char kProductCommandLine[] = "\"C:\\VELQUOR\\NORVASK.exe\"";

}  // namespace velquor

extern velquor::Tfrm_abertura* frm_abertura;
