// A screen reader's view of the launcher, from another process, as NVDA reads
// it: this driver hooks the window events out of context before the launcher
// starts, reads names through oleacc, and reads the status line's name in
// answer to each live-region event, the moment it comes.
#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>

#include <gtest/gtest.h>

#include "launcher_driver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace launcher_driver;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr DWORD kLiveRegionChanged = 0x8019;  // EVENT_OBJECT_LIVEREGIONCHANGED
constexpr double kAnswerLimitMs = 50;

std::string Utf8(const std::wstring& text) {
    std::string out(
        static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), static_cast<int>(out.size()), nullptr, nullptr);
    out.pop_back();
    return out;
}

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool UnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

template <class Interface>
struct ComReleaser {
    void operator()(Interface* object) const {
        if (object) object->Release();
    }
};
using Accessible = std::unique_ptr<IAccessible, ComReleaser<IAccessible>>;

VARIANT Self() {
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    return self;
}

std::wstring TakeString(BSTR text) {
    std::wstring out = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return out;
}

// What a reader learns of one accessible element.
struct Element {
    HWND window = nullptr;
    std::wstring name;
    HRESULT nameResult = E_FAIL;
    LONG role = 0;
    std::wstring value;
    HRESULT valueResult = E_FAIL;
};

Element Read(IAccessible* accessible, VARIANT child) {
    Element element;
    WindowFromAccessibleObject(accessible, &element.window);
    BSTR name = nullptr;
    element.nameResult = accessible->get_accName(child, &name);
    element.name = TakeString(name);
    VARIANT role{};
    if (SUCCEEDED(accessible->get_accRole(child, &role)) && role.vt == VT_I4) element.role = role.lVal;
    VariantClear(&role);
    BSTR value = nullptr;
    element.valueResult = accessible->get_accValue(child, &value);
    element.value = TakeString(value);
    return element;
}

Accessible ClientObjectOf(HWND window) {
    IAccessible* accessible = nullptr;
    if (FAILED(AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                          reinterpret_cast<void**>(&accessible))))
        return nullptr;
    return Accessible(accessible);
}

// The client area's children, in the order a reader walks them. A child
// that is a window is read through that window's own client object, which
// is where the system's proxy for its class answers.
std::vector<Element> ChildrenOf(HWND window) {
    std::vector<Element> children;
    Accessible client = ClientObjectOf(window);
    if (!client) return children;
    LONG count = 0;
    if (FAILED(client->get_accChildCount(&count)) || count <= 0) return children;
    std::vector<VARIANT> found(static_cast<size_t>(count));
    LONG obtained = 0;
    if (FAILED(AccessibleChildren(client.get(), 0, count, found.data(), &obtained))) return children;
    for (LONG i = 0; i < obtained; ++i) {
        VARIANT& child = found[static_cast<size_t>(i)];
        if (child.vt == VT_DISPATCH && child.pdispVal) {
            IAccessible* object = nullptr;
            if (SUCCEEDED(child.pdispVal->QueryInterface(IID_IAccessible, reinterpret_cast<void**>(&object)))) {
                HWND childWindow = nullptr;
                WindowFromAccessibleObject(object, &childWindow);
                object->Release();
                Accessible own = ClientObjectOf(childWindow);
                if (own) children.push_back(Read(own.get(), Self()));
            }
        } else if (child.vt == VT_I4) {
            children.push_back(Read(client.get(), child));
        }
        VariantClear(&child);
    }
    return children;
}

// Whether this system keeps annotations: tried on a window of the driver's own.
bool AnnotationsWork() {
    IAccPropServices* services = nullptr;
    if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                reinterpret_cast<void**>(&services))))
        return false;
    HWND window = CreateWindowExW(0, L"STATIC", L"probe", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    const HRESULT made =
        services->SetHwndPropStr(window, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, PROPID_ACC_NAME, L"named");
    if (SUCCEEDED(made)) {
        services->ClearHwndProps(window, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, &PROPID_ACC_NAME, 1);
    }
    DestroyWindow(window);
    services->Release();
    return SUCCEEDED(made);
}

// One live-region event from the launcher, read as NVDA reads it: the event's
// object, its name, and how long the name took to come.
struct LiveEvent {
    HWND window;
    LONG object, child;
    std::wstring name;
    HRESULT nameResult;
    double answerMs;
    int position;  // the bar's, asked right after
};

int ProgressPosition(HWND splash) {
    HWND bar = FindWindowExW(splash, nullptr, PROGRESS_CLASSW, nullptr);
    DWORD_PTR position = 0;
    if (!bar || !SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_NORMAL, 50, &position)) return -1;
    return static_cast<int>(position);
}

// The out-of-context hook: its callback runs on this thread while it pumps.
class Probe {
public:
    Probe() {
        current_ = this;
        hook_ = SetWinEventHook(kLiveRegionChanged, kLiveRegionChanged, nullptr, OnEvent, 0, 0,
                                WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
    }
    ~Probe() {
        if (hook_) UnhookWinEvent(hook_);
        current_ = nullptr;
    }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;

    bool Hooked() const { return hook_ != nullptr; }
    void Watch(DWORD pid, HWND splash) {
        pid_ = pid;
        splash_ = splash;
    }
    const std::vector<LiveEvent>& Events() const { return events_; }
    // Called on this thread after each event from the launcher is read.
    std::function<void(const LiveEvent&)> afterEvent;

    // Pumps this thread's messages (the hook's callbacks among them) until
    // `done` or `limit`.
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (!done()) {
            if (Clock::now() > end) return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        }
        return true;
    }

private:
    static void CALLBACK OnEvent(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD, DWORD) {
        if (current_) current_->Take(window, object, child);
    }
    void Take(HWND window, LONG object, LONG child) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid_ == 0 || pid != pid_) return;
        const auto start = Clock::now();
        LiveEvent event{window, object, child, {}, E_FAIL, 0, -1};
        IAccessible* accessible = nullptr;
        VARIANT target{};
        if (SUCCEEDED(AccessibleObjectFromEvent(window, static_cast<DWORD>(object), static_cast<DWORD>(child),
                                                &accessible, &target))) {
            BSTR name = nullptr;
            event.nameResult = accessible->get_accName(target, &name);
            event.name = TakeString(name);
            accessible->Release();
            VariantClear(&target);
        }
        event.answerMs = MillisecondsSince(start);
        event.position = ProgressPosition(splash_);
        events_.push_back(event);
        if (afterEvent) afterEvent(events_.back());
    }

    static Probe* current_;
    HWINEVENTHOOK hook_ = nullptr;
    DWORD pid_ = 0;
    HWND splash_ = nullptr;
    std::vector<LiveEvent> events_;
};

Probe* Probe::current_ = nullptr;

std::wstring LogPath() { return TempPath(L"velquor-e2e-reader.log"); }

struct ReaderCase {
    const char* name;
    const wchar_t* dllOverrides;  // for the launcher alone: how its annotations fail
    UINT close;                   // sent from here during the sequence, or 0
    WPARAM closeParameter;
    size_t closeAfterEvent;  // 1: in the first hold, 2: in the second
};

void PrintTo(const ReaderCase& c, std::ostream* out) { *out << c.name; }

class ScreenReader : public testing::TestWithParam<ReaderCase> {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        RemoveProduct();
        ResetStandIn(LogPath());
        InstallStandIn(WindowsPath(STANDIN_EXE), L"normal");
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"WINEDLLOVERRIDES", nullptr);
        if (launcher_) {
            for (const ProcessEntry& p : Processes())
                if (p.parent == launcher_->Pid() && _wcsicmp(p.image.c_str(), L"NORVASK.exe") == 0) EndProcess(p.pid);
            launcher_.reset();
        }
        RemoveProduct();
        DeleteFileW(LogPath().c_str());
        CoUninitialize();
    }
    std::unique_ptr<Launch> launcher_;
};

const wchar_t kNotice[] = L"Copyright \u00A9 2026 Mervik Sistemas Ltda.";

TEST_P(ScreenReader, ReadsEveryLabelAndTheBarThenHearsEachStepInTime) {
    const ReaderCase& c = GetParam();
    const bool annotations = AnnotationsWork();
    Probe probe;  // before the launcher, as a reader already running is
    ASSERT_TRUE(probe.Hooked());
    SetEnvironmentVariableW(L"WINEDLLOVERRIDES", c.dllOverrides);
    launcher_ = std::make_unique<Launch>(WindowsPath(LAUNCHER_EXE));
    SetEnvironmentVariableW(L"WINEDLLOVERRIDES", nullptr);
    ASSERT_TRUE(launcher_->Started());
    HWND splash = launcher_->WaitSplash();
    ASSERT_NE(splash, nullptr);
    probe.Watch(launcher_->Pid(), splash);

    // The window: its caption for the taskbar, its name for a reader.
    EXPECT_EQ(TextOf(splash), L"frm_abertura");
    {
        Accessible client = ClientObjectOf(splash);
        ASSERT_TRUE(client);
        const Element window = Read(client.get(), Self());
        std::printf("window: \"%s\" (annotations %s here)\n", Utf8(window.name).c_str(),
                    annotations ? "kept" : "refused");
        EXPECT_EQ(window.name, annotations ? L"VELQUOR" : L"frm_abertura");
    }

    // Before the first tick: every label, top to bottom, then the bar at 0.
    const std::vector<Element> children = ChildrenOf(splash);
    const std::vector<std::wstring> labels = {L"VELQUOR", L"UM PRODUTO MERVIK", kNotice, L"Recebendo ..."};
    const bool complete = children.size() == labels.size() + 1;
    EXPECT_TRUE(complete) << children.size() << " children: the labels and the bar were expected";
    LONG above = -1;
    for (size_t i = 0; i < children.size(); ++i) {
        const Element& child = children[i];
        RECT place{};
        GetWindowRect(child.window, &place);
        std::printf("child %zu: \"%s\" role %ld, top %ld\n", i, Utf8(child.name).c_str(), child.role, place.top);
        EXPECT_GT(place.top, above) << "child " << i << " is not below the one before";
        above = place.top;
        if (complete && i < labels.size()) {
            EXPECT_EQ(child.nameResult, S_OK) << i;
            EXPECT_EQ(child.name, labels[i]) << i;
            EXPECT_EQ(ClassOf(child.window), L"Static") << i;
            // Wine's proxies give every client object the CLIENT role.
            EXPECT_EQ(child.role, UnderWine() ? ROLE_SYSTEM_CLIENT : ROLE_SYSTEM_STATICTEXT) << i;
        }
    }
    if (!children.empty()) {
        const Element& bar = children.back();
        EXPECT_EQ(ClassOf(bar.window), PROGRESS_CLASSW);
        EXPECT_EQ(bar.role, UnderWine() ? ROLE_SYSTEM_CLIENT : ROLE_SYSTEM_PROGRESSBAR);
        if (SUCCEEDED(bar.valueResult) && !bar.value.empty()) {  // where the system's proxy gives one
            EXPECT_EQ(bar.value.rfind(L"0", 0), 0u) << Utf8(bar.value);
        }
    }
    EXPECT_EQ(ProgressPosition(splash), 0);
    HWND status = complete ? children[labels.size() - 1].window : nullptr;

    // Each step: one live-region event from the status line, whose name, read
    // at once from here, is that step's text, while the bar shows its step.
    if (c.close) {
        probe.afterEvent = [&](const LiveEvent& event) {
            if (probe.Events().size() != c.closeAfterEvent) return;
            DWORD_PTR answer = 0;
            const bool answered =
                SendMessageTimeoutW(splash, c.close, c.closeParameter, 0, SMTO_NORMAL, 2000, &answer) != 0;
            std::printf("%s sent after \"%s\": %s\n", c.name, Utf8(event.name).c_str(),
                        answered ? "answered" : "not answered in 2 s");
        };
    }
    ASSERT_TRUE(probe.PumpUntil([&] { return !launcher_->Running(); }, 20s)) << "the launcher is still running";
    const std::vector<LiveEvent>& events = probe.Events();
    struct Step {
        const wchar_t* text;
        int position;
    };
    const Step steps[] = {{L"SEJA BEM VINDO!", 10}, {L"AGUARDE UM MOMENTO!", 30}};
    EXPECT_EQ(events.size(), std::size(steps)) << "live-region events from the launcher";
    for (size_t i = 0; i < std::min(events.size(), std::size(steps)); ++i) {
        const LiveEvent& event = events[i];
        std::printf("event %zu: \"%s\" answered in %.1f ms, bar at %d\n", i + 1, Utf8(event.name).c_str(),
                    event.answerMs, event.position);
        EXPECT_EQ(event.window, status) << i;
        EXPECT_EQ(event.object, OBJID_CLIENT) << i;
        EXPECT_EQ(event.child, CHILDID_SELF) << i;
        EXPECT_EQ(event.nameResult, S_OK) << i;
        EXPECT_EQ(event.name, steps[i].text) << i;
        EXPECT_LE(event.answerMs, kAnswerLimitMs) << i;
        EXPECT_EQ(event.position, steps[i].position) << i;
    }

    // And the run as it always is: the product started once, exit code 0.
    EXPECT_EQ(launcher_->ExitCode(), 0u);
    EXPECT_EQ(Lines(LogPath()).size(), 1u) << "the product's starts";
}

INSTANTIATE_TEST_SUITE_P(Cases, ScreenReader,
                         testing::Values(ReaderCase{"as_the_bed_is", nullptr, 0, 0, 0},
                                         // No oleacc for the launcher: no annotation can even be asked for.
                                         ReaderCase{"without_oleacc", L"oleacc=d", 0, 0, 0},
                                         ReaderCase{"wm_close_in_the_first_hold", nullptr, WM_CLOSE, 0, 1},
                                         ReaderCase{"sc_close_in_the_second_hold", nullptr, WM_SYSCOMMAND, SC_CLOSE,
                                                    2}),
                         [](const testing::TestParamInfo<ReaderCase>& info) { return info.param.name; });

}  // namespace
