// Once the launch sequence has begun, no close of any kind is handled: the
// holds answer messages sent from other processes (a screen reader's), and a
// close can come that way as well as any question.
#include "UABERTURA/UABERTURA.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using velquor::Tfrm_abertura;

enum class Moment { FirstHold, SecondHold, ProductStart };

struct CloseCase {
    const char* name;
    UINT message;
    WPARAM wParam;
    Moment when;
};

void PrintTo(const CloseCase& c, std::ostream* out) { *out << c.name; }

// Sends the case's close to the splash at its moment, as another process's
// SendMessage reaches the window procedure while the thread waits.
class ClosingPlatform : public velquor::LaunchPlatform {
public:
    ClosingPlatform(toolkit::TApplication& application, const CloseCase& close)
        : application_(application), close_(close) {}
    Tfrm_abertura* form = nullptr;
    std::vector<std::string> events;

    void Hold(DWORD) override {
        events.push_back("hold");
        CloseAt(holds_++ == 0 ? Moment::FirstHold : Moment::SecondHold);
    }
    void WinExec(const char*, UINT) override {
        events.push_back("winexec");
        CloseAt(Moment::ProductStart);
    }
    void Terminate() override {
        events.push_back("terminate");
        application_.Terminate();
    }

private:
    void CloseAt(Moment moment) {
        if (moment == close_.when) SendMessageW(form->Handle(), close_.message, close_.wParam, 0);
    }
    toolkit::TApplication& application_;
    CloseCase close_;
    int holds_ = 0;
};

class SplashCloses : public testing::TestWithParam<CloseCase> {
protected:
    void TearDown() override {
        frm_abertura = nullptr;
        MSG message;
        while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
    }
};

TEST_P(SplashCloses, AreNotHandledOnceTheSequenceHasBegun) {
    toolkit::TApplication application;
    std::vector<std::wstring> errors;
    application.ErrorBox = [&](const std::wstring& message) { errors.push_back(message); };
    application.Initialize();
    ClosingPlatform platform(application, GetParam());
    Tfrm_abertura* form = nullptr;
    application.CreateForm(form, platform);
    platform.form = form;
    frm_abertura = form;
    ShowWindow(form->Handle(), SW_SHOWNOACTIVATE);

    application.Run();  // the first tick runs the sequence, which ends the run

    EXPECT_EQ(platform.events, (std::vector<std::string>{"hold", "hold", "winexec", "terminate"}));
    EXPECT_EQ(frm_abertura, form) << "the form's close handler ran";
    EXPECT_TRUE(IsWindowVisible(form->Handle()));
    EXPECT_TRUE(errors.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Ways, SplashCloses,
    testing::Values(CloseCase{"wm_close_in_the_first_hold", WM_CLOSE, 0, Moment::FirstHold},
                    CloseCase{"sc_close_in_the_first_hold", WM_SYSCOMMAND, SC_CLOSE, Moment::FirstHold},
                    CloseCase{"wm_close_in_the_second_hold", WM_CLOSE, 0, Moment::SecondHold},
                    CloseCase{"sc_close_while_the_product_starts", WM_SYSCOMMAND, SC_CLOSE, Moment::ProductStart}),
    [](const testing::TestParamInfo<CloseCase>& info) { return info.param.name; });

}  // namespace
