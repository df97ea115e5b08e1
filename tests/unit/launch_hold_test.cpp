// The launch sequence's holds: a message another thread or process sends
// (a screen reader asking for a name) is answered while the hold lasts;
// nothing posted, no input, no timer and no paint is handled before it ends.
#include "UABERTURA/UABERTURA.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr UINT kQuestion = WM_APP + 1;

struct Seen {
    int questions = 0, posted = 0, keys = 0, timers = 0, paints = 0;
};

// Counts into the Seen its window carries.
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* counts = reinterpret_cast<Seen*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!counts) return DefWindowProcW(window, message, wParam, lParam);
    Seen& seen = *counts;
    switch (message) {
        case kQuestion:
            ++seen.questions;
            return 42;
        case WM_APP + 2:
            ++seen.posted;
            return 0;
        case WM_KEYDOWN:
            ++seen.keys;
            return 0;
        case WM_TIMER:
            ++seen.timers;
            return 0;
        case WM_PAINT:
            ++seen.paints;
            ValidateRect(window, nullptr);
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class LaunchHold : public testing::Test {
protected:
    void SetUp() override {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = CountingProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"LaunchHoldTest";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, L"LaunchHoldTest", L"", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window_, nullptr);
        MSG message;  // start with an empty queue
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&seen_));
    }
    void TearDown() override {
        DestroyWindow(window_);
        UnregisterClassW(L"LaunchHoldTest", GetModuleHandleW(nullptr));
    }
    HWND window_ = nullptr;
    Seen seen_;
    toolkit::TApplication application_;
    velquor::SystemLaunchPlatform platform_{application_};
};

TEST_F(LaunchHold, AnswersWhatOtherThreadsSendAndHandlesNothingElse) {
    // Due during the hold: a posted message, a key, a timer and a paint.
    PostMessageW(window_, WM_APP + 2, 0, 0);
    PostMessageW(window_, WM_KEYDOWN, VK_SPACE, 0);
    SetTimer(window_, 1, 1, nullptr);
    InvalidateRect(window_, nullptr, FALSE);

    HANDLE holding = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    double answerMs = -1;
    LRESULT answer = 0;
    Clock::time_point answeredAt{};
    std::thread reader([&] {
        WaitForSingleObject(holding, INFINITE);
        Sleep(20);  // well inside the hold
        const auto asked = Clock::now();
        DWORD_PTR result = 0;  // unanswered in time, it is not waited for longer
        if (SendMessageTimeoutW(window_, kQuestion, 0, 0, SMTO_NORMAL, 1000, &result))
            answer = static_cast<LRESULT>(result);
        answeredAt = Clock::now();
        answerMs = std::chrono::duration<double, std::milli>(answeredAt - asked).count();
    });
    const auto start = Clock::now();
    SetEvent(holding);
    platform_.Hold(100);
    const auto end = Clock::now();
    const Seen during = seen_;
    reader.join();
    CloseHandle(holding);
    KillTimer(window_, 1);

    EXPECT_EQ(during.questions, 1) << "the question sent during the hold was not answered during it";
    EXPECT_EQ(answer, 42);
    EXPECT_LT(answeredAt, end);
    EXPECT_LE(answerMs, 50.0);
    EXPECT_EQ(during.posted, 0);
    EXPECT_EQ(during.keys, 0);
    EXPECT_EQ(during.timers, 0);
    EXPECT_EQ(during.paints, 0);
    const double heldMs = std::chrono::duration<double, std::milli>(end - start).count();
    EXPECT_GE(heldMs, 99.0) << "the hold lasts 100 ms";

    // Nothing was taken off the queue: the loop still finds what was due.
    MSG message;
    EXPECT_TRUE(PeekMessageW(&message, window_, WM_APP + 2, WM_APP + 2, PM_REMOVE));
    EXPECT_TRUE(PeekMessageW(&message, window_, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE));
    EXPECT_NE(GetUpdateRect(window_, nullptr, FALSE), FALSE) << "the paint still due";
}

}  // namespace
