#include "toolkit/application.h"
#include "toolkit/placement.h"

#include <gtest/gtest.h>

namespace {

struct PlacementCase {
    const char* name;
    RECT desktop;
    POINT expected;
};

// The splash window is 729 x 441; each half is truncated on its own.
const PlacementCase kPlacements[] = {
    {"one monitor", {0, 0, 1920, 1080}, {596, 320}},
    {"two monitors side by side", {0, 0, 2304, 1024}, {788, 292}},
    {"even desktop, odd window: one pixel off the halved difference", {0, 0, 1000, 600}, {136, 80}},
    {"odd desktop", {0, 0, 1001, 601}, {136, 80}},
    {"monitor left of the primary: negative origin", {-1280, 0, 1920, 1080}, {-44, 320}},
    {"monitor above the primary", {0, -1024, 1280, 1024}, {276, -220}},
    {"desktop smaller than the window", {0, 0, 640, 400}, {0, 0}},
    {"small desktop with a negative origin", {-500, -300, 100, 100}, {-500, -300}},
};

TEST(Placement, CentresOnTheDesktopWithSeparatelyTruncatedHalves) {
    for (const auto& c : kPlacements) {
        const POINT corner = toolkit::CentredOn(c.desktop, {729, 441});
        EXPECT_EQ(corner.x, c.expected.x) << c.name;
        EXPECT_EQ(corner.y, c.expected.y) << c.name;
    }
}

BOOL CALLBACK AddMonitor(HMONITOR, HDC, LPRECT area, LPARAM all) {
    RECT* enclosing = reinterpret_cast<RECT*>(all);
    UnionRect(enclosing, enclosing, area);
    return TRUE;
}

// The desktop encloses every monitor and nothing more, as the monitors
// themselves tell it.
TEST(Placement, DesktopEnclosesAllMonitors) {
    RECT monitors{};
    ASSERT_TRUE(EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&monitors)));
    ASSERT_FALSE(IsRectEmpty(&monitors));
    const RECT desktop = toolkit::DesktopRect();
    EXPECT_TRUE(EqualRect(&desktop, &monitors))
        << "desktop " << desktop.left << "," << desktop.top << " " << desktop.right << "," << desktop.bottom
        << "; monitors " << monitors.left << "," << monitors.top << " " << monitors.right << "," << monitors.bottom;
}

struct ShowCase {
    bool requested;
    WORD showWindow;
    int expected;
};

// Wine reports one DPI everywhere (the prefix's LogPixels): the monitor's, read through
// the shcore the application holds, must agree with the screen's; and the application
// reads it by default.
TEST(Placement, DisplayDpiIsTheMonitorsAndTheApplicationsDefault) {
    HDC screen = GetDC(nullptr);
    const int logPixels = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    toolkit::TApplication application;
    application.Initialize();
    ASSERT_NE(GetModuleHandleW(L"shcore.dll"), nullptr) << "the application does not hold shcore";
    EXPECT_EQ(toolkit::DisplayDpi(), logPixels);
    EXPECT_EQ(application.ReadDisplayDpi(), logPixels);
}

// The quit request ends the loop once it is fetched, not when it is posted.
TEST(EventLoop, IsTerminatedOnceTheQuitRequestIsFetched) {
    toolkit::TApplication application;
    application.Terminate();
    EXPECT_FALSE(application.Terminated()) << "terminated before the loop fetched the request";
    application.Run();
    EXPECT_TRUE(application.Terminated());
}

TEST(InitialShow, HonoursMaximisedAndMinimisedInactiveOnly) {
    const ShowCase cases[] = {
        {false, SW_SHOWMAXIMIZED, SW_SHOWNORMAL},
        {true, SW_SHOWMAXIMIZED, SW_SHOWMAXIMIZED},
        {true, SW_SHOWMINNOACTIVE, SW_SHOWMINNOACTIVE},
        {true, SW_SHOWMINIMIZED, SW_SHOWNORMAL},
        {true, SW_HIDE, SW_SHOWNORMAL},
        {true, SW_SHOWNORMAL, SW_SHOWNORMAL},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toolkit::InitialShowCommand(c.requested, c.showWindow), c.expected)
            << "requested=" << c.requested << " show=" << c.showWindow;
    }
}

TEST(Guard, TurnsAnyErrorIntoTheErrorBoxAndCarriesOn) {
    toolkit::TApplication application;
    std::vector<std::wstring> shown;
    application.ErrorBox = [&](const std::wstring& message) { shown.push_back(message); };
    EXPECT_TRUE(application.Guard([] {}));
    EXPECT_FALSE(application.Guard([] { throw std::runtime_error("falhou \xC3\xA0 toa"); }));
    EXPECT_FALSE(application.Guard([] { throw 42; }));
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], L"falhou \u00E0 toa");
    EXPECT_EQ(shown[1], L"Erro desconhecido.");
}

// Ticks are held while any error box is up: a box that opens and closes
// inside another must leave them held until the outer one closes.
TEST(Guard, KeepsTicksHeldUntilTheOutermostErrorBoxCloses) {
    toolkit::TApplication application;
    std::vector<bool> heldAfterInnerBox;
    int depth = 0;
    application.ErrorBox = [&](const std::wstring&) {
        if (++depth < 3) {
            application.Guard([] { throw std::runtime_error("dentro"); });
            heldAfterInnerBox.push_back(application.ShowingError());
        }
        --depth;
    };
    EXPECT_FALSE(application.ShowingError());
    application.Guard([] { throw std::runtime_error("fora"); });
    EXPECT_EQ(heldAfterInnerBox, (std::vector<bool>{true, true}));
    EXPECT_FALSE(application.ShowingError()) << "ticks still held after every box closed";
}

}  // namespace
