#include "UABERTURA/UABERTURA.h"

#include "toolkit/sent_messages.h"

velquor::Tfrm_abertura* frm_abertura = nullptr;

namespace velquor {

namespace {

using namespace toolkit;
using Self = Tfrm_abertura;

constexpr TColor kStatusGreen = TColor::Rgb(0, 128, 0);

const ControlLayout<Self> kControls[] = {
    ImageLayout<Self>{
        .control = &Self::Image1, .bounds = {0, 0, 729, 105}, .picture = L"BANNER", .align = TAlign::alTop},
    ImageLayout<Self>{.control = &Self::Image2, .bounds = {0, 111, 202, 170}, .picture = L"LOGO"},
    LabelLayout<Self>{.control = &Self::Label1,
                      .bounds = {240, 152, 360, 33},
                      .caption = L"VELQUOR",
                      .font = {.face = L"Tahoma", .height = 27, .bold = true}},
    LabelLayout<Self>{.control = &Self::Label2,
                      .bounds = {328, 199, 142, 16},
                      .caption = L"UM PRODUTO MERVIK",
                      .font = {.face = L"Arial Narrow", .height = 12, .italic = true, .charset = ANSI_CHARSET}},
    LabelLayout<Self>{.control = &Self::Label3,
                      .bounds = {304, 237, 178, 16},
                      .caption = L"Copyright \u00A9 2026 Mervik Sistemas Ltda.",
                      .font = {.face = L"Arial Narrow", .height = 12, .italic = true, .charset = ANSI_CHARSET}},
    LabelLayout<Self>{.control = &Self::lbl_verifica,
                      .bounds = {24, 384, 75, 13},
                      .caption = L"Recebendo ...",
                      .font = {.face = L"Tahoma", .height = 11, .bold = true, .colour = kStatusGreen},
                      .live = TLiveSetting::Polite},
    ProgressBarLayout<Self>{
        .control = &Self::ProgressBar1, .bounds = {8, 408, 713, 25}, .min = 0, .max = 100, .position = 0},
    TimerLayout<Self>{.control = &Self::Timer1, .interval = 1000, .enabled = true, .onTimer = &Self::Timer1Timer},
};

}  // namespace

const FormLayout<Self> Tfrm_abertura::Layout = {
    .windowClass = L"Tfrm_abertura",
    .caption = L"frm_abertura",
    .clientWidth = 729,
    .clientHeight = 441,
    .colour = TColor::System(COLOR_BTNHIGHLIGHT),
    .icon = L"MAINICON",
    .accessibleName = L"VELQUOR",
    .onClose = &Self::FormClose,
    .controls = kControls,
};

// A screen reader reads each step's text while it lasts.
void SystemLaunchPlatform::Hold(DWORD milliseconds) { WaitAnsweringSentMessages(milliseconds); }

void SystemLaunchPlatform::WinExec(const char* commandLine, UINT showCommand) {
    ::WinExec(commandLine, showCommand);  // a missing product is not reported
}

void SystemLaunchPlatform::Terminate() { application_.Terminate(); }

Tfrm_abertura::Tfrm_abertura(TApplication& owner) : Tfrm_abertura(owner, systemPlatform_) {}

Tfrm_abertura::Tfrm_abertura(TApplication& owner, LaunchPlatform& platform)
    : TForm(owner), systemPlatform_(owner), platform_(platform) {
    Build(*this, Layout);
}

// Once the sequence has begun nothing closes the window, however asked; a
// sequence that fails lets closes through again until the next tick.
void Tfrm_abertura::Timer1Timer(TObject&) {
    RefuseClose(true);
    try {
        ShowStep(L"SEJA BEM VINDO!", 10);
        platform_.Hold(100);
        ShowStep(L"AGUARDE UM MOMENTO!", 30);
        platform_.Hold(100);
        platform_.WinExec(kProductCommandLine, SW_SHOWNORMAL);
    } catch (...) {
        RefuseClose(false);
        throw;
    }
    platform_.Terminate();
}

// The sequence holds the event loop, so each step is painted here and now.
void Tfrm_abertura::ShowStep(const wchar_t* status, int position) {
    lbl_verifica.SetCaption(status);
    ProgressBar1.SetPosition(position);
    Repaint();
}

void Tfrm_abertura::FormClose(TObject&, TCloseAction& Action) {
    Action = TCloseAction::caFree;
    frm_abertura = nullptr;
}

}  // namespace velquor
