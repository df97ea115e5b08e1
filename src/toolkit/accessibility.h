#pragma once
// What a screen reader needs beyond the system's own proxies for standard
// controls: live-region events for text that changes, and annotations of
// properties the proxies cannot know (a window's accessible name, UIA's
// LiveSetting). The annotations go through oleacc's IAccPropServices, loaded
// only where a screen reader runs or something asks for the window's
// accessible objects, so a PC without an accessibility client loads no
// oleacc at all. Where Windows (or a Windows without that property) refuses
// an annotation, the window goes on as it would without it.
#include "toolkit/handles.h"

#include <string>
#include <vector>

struct IAccPropServices;

namespace toolkit {

// EVENT_OBJECT_LIVEREGIONCHANGED, raised and read by Windows 8 and later; not in MinGW's headers.
inline constexpr DWORD kEventObjectLiveRegionChanged = 0x8019;

// UIA's LiveSetting values.
enum class TLiveSetting { Off = 0, Polite = 1, Assertive = 2 };

// Tells screen readers that the live region `window` now reads differently:
// NVDA and Narrator speak its name. Raised once its new text is in place.
void RaiseLiveRegionChanged(HWND window);

// Whether a screen reader says it is running (SPI_GETSCREENREADER).
bool ScreenReaderRunning();

// The annotations of one form's windows: asked for as the form is built,
// made the first time Apply is called, cleared by Clear while the windows
// still exist.
class AccessibleAnnotations {
public:
    AccessibleAnnotations() = default;
    AccessibleAnnotations(const AccessibleAnnotations&) = delete;
    AccessibleAnnotations& operator=(const AccessibleAnnotations&) = delete;
    ~AccessibleAnnotations();

    // The accessible name of the window's own object and of its client area.
    void Name(HWND window, std::wstring name);
    void LiveSetting(HWND window, TLiveSetting setting);

    // Makes the annotations asked for so far, and any asked for later at
    // once; quietly does without any that this Windows refuses.
    void Apply();
    // Takes every annotation made off again, before its windows go.
    void Clear();

private:
    struct Annotation {
        HWND window;
        DWORD object;  // OBJID_WINDOW or OBJID_CLIENT
        const GUID* property;
        std::wstring text;  // for a name
        int number = 0;     // for a setting
    };
    // Ends the thread's COM apartment where starting it succeeded.
    struct Apartment {
        using UninitializeFn = void(WINAPI*)();
        Apartment() = default;
        Apartment(const Apartment&) = delete;
        Apartment& operator=(const Apartment&) = delete;
        ~Apartment() {
            if (uninitialize) uninitialize();
        }
        UninitializeFn uninitialize = nullptr;
    };
    struct ReleaseServices {
        void operator()(IAccPropServices* services) const;
    };

    void Make(const Annotation& annotation) const;
    void Connect();

    std::vector<Annotation> wanted_;
    bool applied_ = false;
    // Released in reverse: the services, then the apartment, then the DLLs.
    ModuleHandle ole32_;
    ModuleHandle oleacc_;
    Apartment apartment_;
    Unique<IAccPropServices*, ReleaseServices> services_;
};

}  // namespace toolkit
