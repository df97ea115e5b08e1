#include "UABERTURA/UABERTURA.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using velquor::Tfrm_abertura;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// Records what the sequence asks of the system, with what the window showed
// at that moment.
class RecordingPlatform : public velquor::LaunchPlatform {
public:
    explicit RecordingPlatform(toolkit::TApplication& application) : application_(application) {}
    Tfrm_abertura* form = nullptr;
    std::vector<std::string> events;
    int failingSleeps = 0;

    void Sleep(DWORD milliseconds) override {
        if (failingSleeps > 0) {
            --failingSleeps;
            throw std::runtime_error("falha de teste");
        }
        std::ostringstream event;
        event << "sleep " << milliseconds << " showing " << Showing();
        events.push_back(event.str());
    }
    void WinExec(const char* commandLine, UINT showCommand) override {
        std::ostringstream event;
        event << "winexec " << commandLine << " show " << showCommand;
        events.push_back(event.str());
    }
    void Terminate() override {
        events.push_back("terminate");
        application_.Terminate();
    }

private:
    // Status text, bar position, and whether the window is painted up to date.
    std::string Showing() const {
        const bool painted = !GetUpdateRect(form->Handle(), nullptr, FALSE);
        std::ostringstream showing;
        showing << "'" << Narrow(form->lbl_verifica.Caption()) << "' at " << form->ProgressBar1.Position()
                << (painted ? ", painted" : ", not painted");
        return showing.str();
    }
    toolkit::TApplication& application_;
};

const std::vector<std::string> kOneSequence = {
    "sleep 100 showing 'SEJA BEM VINDO!' at 10, painted",
    "sleep 100 showing 'AGUARDE UM MOMENTO!' at 30, painted",
    "winexec \"C:\\VELQUOR\\NORVASK.exe\" show 1",
    "terminate",
};

class SplashTest : public ::testing::Test {
protected:
    toolkit::TApplication application;
    RecordingPlatform platform{application};
    Tfrm_abertura* form = nullptr;
    std::vector<std::wstring> errors;

    void SetUp() override {
        application.ErrorBox = [this](const std::wstring& message) { errors.push_back(message); };
        application.Initialize();
        application.MainFormOnTaskBar = true;
        application.CreateForm(form, platform);
        platform.form = form;
    }

    // A quit request the test left unfetched must not end the next test's loop.
    void TearDown() override {
        MSG message;
        while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }
};

TEST_F(SplashTest, StartsReceivingWithAnEmptyBarAndAnArmedTimer) {
    EXPECT_EQ(form->lbl_verifica.Caption(), L"Recebendo ...");
    EXPECT_EQ(form->ProgressBar1.Position(), 0);
    EXPECT_TRUE(form->Timer1.Enabled());
    wchar_t caption[64] = {};
    GetWindowTextW(form->Handle(), caption, 64);
    EXPECT_STREQ(caption, L"frm_abertura");
    RECT client;
    GetClientRect(form->Handle(), &client);
    EXPECT_EQ(client.right, 729);
    EXPECT_EQ(client.bottom, 441);
    const LONG style = GetWindowLongW(form->Handle(), GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & (WS_CAPTION | WS_THICKFRAME));
    EXPECT_TRUE(GetWindowLongW(form->Handle(), GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_FALSE(GetWindowLongW(form->Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST);
}

TEST_F(SplashTest, LabelsAreSizedToTheirTextAtTheirDesignedCorners) {
    struct Expected {
        const toolkit::TLabel& label;
        LONG left, top;
    };
    const Expected labels[] = {
        {form->Label1, 240, 152}, {form->Label2, 328, 199}, {form->Label3, 304, 237}, {form->lbl_verifica, 24, 384}};
    for (const auto& e : labels) {
        const RECT& r = e.label.BoundsRect();
        EXPECT_EQ(r.left, e.left) << Narrow(e.label.Caption());
        EXPECT_EQ(r.top, e.top) << Narrow(e.label.Caption());
        EXPECT_GT(r.right - r.left, 0) << Narrow(e.label.Caption());
    }
    // The heading's line is as high as its 27 px em plus the face's leading.
    EXPECT_GE(form->Label1.BoundsRect().bottom - form->Label1.BoundsRect().top, 27);
}

TEST_F(SplashTest, SequenceStepsPaintsHoldsStartsTheProductAndTerminates) {
    ShowWindow(form->Handle(), SW_SHOWNOACTIVATE);
    UpdateWindow(form->Handle());
    form->Timer1Timer(form->Timer1);
    EXPECT_EQ(platform.events, kOneSequence);
    EXPECT_TRUE(form->Timer1.Enabled()) << "the sequence leaves the timer armed";
}

TEST_F(SplashTest, ErrorMidSequenceIsShownAndTheNextTickStartsOver) {
    platform.failingSleeps = 1;
    application.Run();  // first tick fails, second runs the whole sequence
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], L"falha de teste");
    EXPECT_EQ(platform.events, kOneSequence);
}

TEST_F(SplashTest, ClosingBeforeTheFirstTickEndsWithoutStartingTheProduct) {
    frm_abertura = form;
    PostMessageW(form->Handle(), WM_CLOSE, 0, 0);
    application.Run();
    EXPECT_TRUE(platform.events.empty());
    EXPECT_EQ(frm_abertura, nullptr);
    EXPECT_TRUE(errors.empty());
}

}  // namespace
