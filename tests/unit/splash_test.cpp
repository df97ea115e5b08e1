#include "UABERTURA/UABERTURA.h"
#include "launcher_driver.h"
#include "pictures/image.h"
#include "toolkit/placement.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <memory>
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
    // Runs once each hold or product start is recorded, with the count of events so far.
    std::function<void(size_t)> afterEvent = [](size_t) {};

    void Hold(DWORD milliseconds) override {
        if (failingSleeps > 0) {
            --failingSleeps;
            throw std::runtime_error("falha de teste");
        }
        std::ostringstream event;
        event << "hold " << milliseconds << " showing " << Showing();
        events.push_back(event.str());
        afterEvent(events.size());
    }
    void WinExec(const char* commandLine, UINT showCommand) override {
        std::ostringstream event;
        event << "winexec " << commandLine << " show " << showCommand;
        events.push_back(event.str());
        afterEvent(events.size());
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
    "hold 100 showing 'SEJA BEM VINDO!' at 10, painted",
    "hold 100 showing 'AGUARDE UM MOMENTO!' at 30, painted",
    "winexec \"C:\\VELQUOR\\NORVASK.exe\" show 1",
    "terminate",
};

// One splash window in an application of its own, laid out for a display at
// `displayDpi`, with the errors it showed.
struct Splash {
    toolkit::TApplication application;
    RecordingPlatform platform{application};
    Tfrm_abertura* form = nullptr;
    int displayDpi = 96;
    std::vector<std::wstring> errors;
};

std::unique_ptr<Splash> MakeSplash(int dpi) {
    auto splash = std::make_unique<Splash>();
    Splash& made = *splash;
    made.displayDpi = dpi;
    made.application.ReadDisplayDpi = [&made] { return made.displayDpi; };
    made.application.ErrorBox = [&made](const std::wstring& message) { made.errors.push_back(message); };
    made.application.Initialize();
    made.application.MainFormOnTaskBar = true;
    made.application.CreateForm(made.form, made.platform);
    made.platform.form = made.form;
    return splash;
}

class SplashTest : public ::testing::Test {
protected:
    std::unique_ptr<Splash> splash = MakeSplash(96);
    toolkit::TApplication& application = splash->application;
    RecordingPlatform& platform = splash->platform;
    Tfrm_abertura* form = splash->form;
    std::vector<std::wstring>& errors = splash->errors;

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

// ----- at the display's DPI -----

// Where the form put everything, in its client's pixels.
struct Placement {
    SIZE client;
    RECT window, banner, logo, bar;
    RECT labels[4];
    int emHeights[4];
    int bigIcon, smallIcon;  // widths
};

bool operator==(const RECT& a, const RECT& b) { return EqualRect(&a, &b) != FALSE; }

RECT ChildRect(HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// The icon the taskbar shows: the window's own, else its class's.
HICON ShownIcon(HWND window, WPARAM which) {
    if (const auto own = reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, which, 0))) return own;
    return reinterpret_cast<HICON>(GetClassLongPtrW(window, which == ICON_BIG ? GCLP_HICON : GCLP_HICONSM));
}

int IconWidth(HWND window, WPARAM which) {
    const HICON icon = ShownIcon(window, which);
    ICONINFO info{};
    if (!icon || !GetIconInfo(icon, &info)) return 0;
    BITMAP colour{};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof colour, &colour);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return colour.bmWidth;
}

Placement PlacementOf(const Tfrm_abertura& form) {
    Placement p{};
    RECT client{};
    GetClientRect(form.Handle(), &client);
    p.client = {client.right, client.bottom};
    GetWindowRect(form.Handle(), &p.window);
    p.banner = form.Image1.BoundsRect();
    p.logo = form.Image2.BoundsRect();
    p.bar = ChildRect(form.ProgressBar1.Handle());
    const toolkit::TLabel* labels[] = {&form.Label1, &form.Label2, &form.Label3, &form.lbl_verifica};
    for (int i = 0; i < 4; ++i) {
        p.labels[i] = labels[i]->BoundsRect();
        LOGFONTW font{};
        GetObjectW(labels[i]->Font(), sizeof font, &font);
        p.emHeights[i] = -font.lfHeight;
    }
    p.bigIcon = IconWidth(form.Handle(), ICON_BIG);
    p.smallIcon = IconWidth(form.Handle(), ICON_SMALL);
    return p;
}

using launcher_driver::Scaled;

// Every length of the 96-dpi layout scaled on its own, labels sized to their text in the
// scaled font, the window centred on the desktop at its scaled size, its icons the .ico's
// images for the DPI (it has 16, 24, 32, 48, 64 and 256).
void ExpectLaidOutAt(const Placement& p, int dpi) {
    SCOPED_TRACE(testing::Message() << dpi << " dpi");
    EXPECT_EQ(p.client.cx, Scaled(729, dpi));
    EXPECT_EQ(p.client.cy, Scaled(441, dpi));
    const POINT corner = toolkit::CentredOn(toolkit::DesktopRect(), p.client);
    EXPECT_EQ(p.window.left, corner.x);
    EXPECT_EQ(p.window.top, corner.y);
    EXPECT_TRUE(p.banner == Scaled(RECT{0, 0, 729, 105}, dpi));
    EXPECT_TRUE(p.logo == Scaled(RECT{0, 111, 202, 281}, dpi));
    EXPECT_TRUE(p.bar == Scaled(RECT{8, 408, 721, 433}, dpi));
    EXPECT_EQ(p.bigIcon, Scaled(32, dpi));
    EXPECT_EQ(p.smallIcon, Scaled(16, dpi));
    const POINT corners[] = {{240, 152}, {328, 199}, {304, 237}, {24, 384}};
    const int ems[] = {27, 12, 12, 11};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(p.labels[i].left, Scaled(corners[i].x, dpi)) << "label " << i;
        EXPECT_EQ(p.labels[i].top, Scaled(corners[i].y, dpi)) << "label " << i;
        EXPECT_EQ(p.emHeights[i], Scaled(ems[i], dpi)) << "label " << i;
        EXPECT_GE(p.labels[i].bottom - p.labels[i].top, p.emHeights[i]) << "label " << i;
    }
}

class ScaledSplashTest : public ::testing::Test {
protected:
    std::unique_ptr<Splash> splash;
    Tfrm_abertura* form = nullptr;

    void Create(int dpi) {
        splash = MakeSplash(dpi);
        form = splash->form;
        form->Show(SW_SHOWNOACTIVATE);
    }
    void ChangeDpi(int reported) {
        RECT suggested{3, 5, 300, 200};  // Windows' idea of a place; the form keeps to the centre
        SendMessageW(form->Handle(), WM_DPICHANGED, MAKEWPARAM(reported, reported),
                     reinterpret_cast<LPARAM>(&suggested));
    }
    // The window's monitor now runs at `dpi`, and Windows says so.
    Placement MoveToDpi(int dpi) {
        splash->displayDpi = dpi;
        ChangeDpi(dpi);
        return PlacementOf(*form);
    }
};

TEST_F(ScaledSplashTest, LaysTheLayoutOutAtTheDisplaysDpi) {
    for (int dpi : {96, 120, 144, 192}) {
        SCOPED_TRACE(testing::Message() << dpi << " dpi");
        Create(dpi);
        ExpectLaidOutAt(PlacementOf(*form), dpi);
        splash.reset();  // a form's window class is its own: two cannot live at once
    }
}

TEST_F(ScaledSplashTest, At144DpiTheWindowIs1094By662) {
    Create(144);
    const Placement p = PlacementOf(*form);
    EXPECT_EQ(p.client.cx, 1094);
    EXPECT_EQ(p.client.cy, 662);
    EXPECT_TRUE(p.logo == (RECT{0, 167, 303, 422}));
    EXPECT_TRUE(p.banner == (RECT{0, 0, 1094, 158}));
}

// Labels are as wide as their text in the scaled font: about half as wide again at 144 dpi.
TEST_F(ScaledSplashTest, LabelsGrowWithTheirFont) {
    const auto labelWidths = [](const Tfrm_abertura& f) {
        const toolkit::TLabel* labels[] = {&f.Label1, &f.Label2, &f.Label3, &f.lbl_verifica};
        std::array<int, 4> widths{};
        for (int i = 0; i < 4; ++i) widths[i] = labels[i]->BoundsRect().right - labels[i]->BoundsRect().left;
        return widths;
    };
    const std::array<int, 4> at96 = labelWidths(*MakeSplash(96)->form);
    Create(144);
    const std::array<int, 4> at144 = labelWidths(*form);
    const toolkit::TLabel* labels[] = {&form->Label1, &form->Label2, &form->Label3, &form->lbl_verifica};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(double(at144[i]) / double(at96[i]), 1.5, 0.15) << Narrow(labels[i]->Caption());
    }
}

// WM_DPICHANGED lays the window out again at the DPI of the monitor it is centred on, keeps
// it centred and keeps the step it shows; a report that disagrees with that monitor (a
// window straddling two scales) changes nothing, so it never bounces between two sizes.
TEST_F(ScaledSplashTest, RelaysOutOnDpiChangedAndStaysCentred) {
    Create(96);
    form->lbl_verifica.SetCaption(L"SEJA BEM VINDO!");
    form->ProgressBar1.SetPosition(10);
    const Placement at96 = PlacementOf(*form);
    ExpectLaidOutAt(at96, 96);

    const Placement at144 = MoveToDpi(144);
    ExpectLaidOutAt(at144, 144);
    EXPECT_EQ(form->lbl_verifica.Caption(), L"SEJA BEM VINDO!");
    EXPECT_EQ(form->ProgressBar1.Position(), 10);

    ChangeDpi(96);  // straddling: Windows reports the other monitor's scale
    const Placement straddling = PlacementOf(*form);
    EXPECT_EQ(std::memcmp(&straddling, &at144, sizeof at144), 0) << "the window changed size";

    // Drawn at the new size from the source, not a stretched 96-dpi picture.
    UpdateWindow(form->Handle());
    HRSRC found = FindResourceW(nullptr, L"BANNER", reinterpret_cast<LPCWSTR>(RT_RCDATA));
    const auto* bytes = static_cast<const std::uint8_t*>(LockResource(LoadResource(nullptr, found)));
    const pictures::Image banner =
        pictures::LoadPicture({bytes, SizeofResource(nullptr, found)}, 1094, 158, form->Colour());
    HDC window = GetDC(form->Handle());
    int differing = 0;
    for (int y = 0; y < banner.height; y += 7) {
        for (int x = 0; x < banner.width; x += 7) {
            const COLORREF shown = GetPixel(window, x, y);
            const std::uint32_t want = banner.pixels[static_cast<size_t>(y * banner.width + x)];
            differing += RGB(want >> 16, (want >> 8) & 0xFF, want & 0xFF) != shown;
        }
    }
    ReleaseDC(form->Handle(), window);
    EXPECT_EQ(differing, 0);

    const Placement back = MoveToDpi(96);
    EXPECT_EQ(std::memcmp(&back, &at96, sizeof at96), 0) << "not back where it was at 96 dpi";
    EXPECT_TRUE(splash->errors.empty());
}

// The two italic lines' widths in Liberation Sans Narrow, Arial Narrow's metric
// twin, as Wine lays them out where it is installed.
struct NarrowLineWidths {
    int dpi, maker, notice;
};
const NarrowLineWidths kNarrowLineWidths[] = {{96, 110, 171}, {120, 134, 218}, {144, 162, 258}, {192, 211, 349}};

int WidthOf(const toolkit::TLabel& label) { return label.BoundsRect().right - label.BoundsRect().left; }

// Whether or not a narrow face is installed (an Office font), the lines keep
// their designed widths, within 5 %.
TEST(NarrowLines, KeepTheirDesignedWidths) {
    for (const NarrowLineWidths& designed : kNarrowLineWidths) {
        const std::unique_ptr<Splash> splash = MakeSplash(designed.dpi);
        EXPECT_NEAR(WidthOf(splash->form->Label2), designed.maker, designed.maker * 0.05) << designed.dpi << " dpi";
        EXPECT_NEAR(WidthOf(splash->form->Label3), designed.notice, designed.notice * 0.05) << designed.dpi << " dpi";
    }
}

// Once the launch sequence has begun, no close of any kind is handled: the
// holds answer messages sent from other processes (a screen reader's), and a
// close can come that way as well as any question.
struct CloseCase {
    const char* name;
    UINT message;
    WPARAM wParam;
    size_t afterEvents;  // sent once this many of the sequence's events are recorded
};

void PrintTo(const CloseCase& c, std::ostream* out) { *out << c.name; }

class SplashCloses : public SplashTest, public testing::WithParamInterface<CloseCase> {
protected:
    void TearDown() override {
        frm_abertura = nullptr;
        SplashTest::TearDown();
    }
};

TEST_P(SplashCloses, AreNotHandledOnceTheSequenceHasBegun) {
    const CloseCase close = GetParam();
    platform.afterEvent = [&](size_t recorded) {
        if (recorded == close.afterEvents) SendMessageW(form->Handle(), close.message, close.wParam, 0);
    };
    frm_abertura = form;
    ShowWindow(form->Handle(), SW_SHOWNOACTIVATE);

    application.Run();  // the first tick runs the sequence, which ends the run

    EXPECT_EQ(platform.events, kOneSequence);
    EXPECT_EQ(frm_abertura, form) << "the form's close handler ran";
    EXPECT_TRUE(IsWindowVisible(form->Handle()));
    EXPECT_TRUE(errors.empty());
}

INSTANTIATE_TEST_SUITE_P(Ways, SplashCloses,
                         testing::Values(CloseCase{"wm_close_in_the_first_hold", WM_CLOSE, 0, 1},
                                         CloseCase{"sc_close_in_the_first_hold", WM_SYSCOMMAND, SC_CLOSE, 1},
                                         CloseCase{"wm_close_in_the_second_hold", WM_CLOSE, 0, 2},
                                         CloseCase{"sc_close_while_the_product_starts", WM_SYSCOMMAND, SC_CLOSE, 3}),
                         [](const testing::TestParamInfo<CloseCase>& info) { return info.param.name; });

}  // namespace
