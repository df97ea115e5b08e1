#include "toolkit/accessibility.h"

#include "toolkit/system_libraries.h"

#include <oleacc.h>

#include <utility>

namespace toolkit {

namespace {

// UIA's LiveSetting_Property_GUID, which MinGW's headers lack.
// {C12BCD8E-2A8E-4950-8AE7-3625111D58EB}
const GUID kLiveSettingProperty = {0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
// MinGW declares these (PROPID_ACC_NAME, CLSID_AccPropServices, IID_IAccPropServices) but defines
// them only in its uuid library, which would bring thousands of others with them.
// {608D3DF8-8128-4AA7-A428-F55E49267291}
const GUID kAccessibleNameProperty = {0x608d3df8, 0x8128, 0x4aa7, {0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91}};
// {B5F8350B-0548-48B1-A6EE-88BD00B4A5E7}
const CLSID kAccPropServicesClass = {0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
// {6E26E776-04F0-495D-80E4-3330352E3169}
const IID kAccPropServicesInterface = {0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};

using CoInitializeExFn = HRESULT(WINAPI*)(void* reserved, DWORD model);
using CoCreateInstanceFn = HRESULT(WINAPI*)(REFCLSID, IUnknown* outer, DWORD context, REFIID, void** object);

}  // namespace

void RaiseLiveRegionChanged(HWND window) {
    NotifyWinEvent(kEventObjectLiveRegionChanged, window, OBJID_CLIENT, CHILDID_SELF);
}

bool ScreenReaderRunning() {
    BOOL running = FALSE;
    return SystemParametersInfoW(SPI_GETSCREENREADER, 0, &running, 0) && running;
}

void AccessibleAnnotations::ReleaseServices::operator()(IAccPropServices* services) const { services->Release(); }

AccessibleAnnotations::~AccessibleAnnotations() { Clear(); }

void AccessibleAnnotations::Name(HWND window, std::wstring name) {
    for (const DWORD object : {static_cast<DWORD>(OBJID_WINDOW), static_cast<DWORD>(OBJID_CLIENT)}) {
        wanted_.push_back({window, object, &kAccessibleNameProperty, name});
        if (applied_) Make(wanted_.back());
    }
}

void AccessibleAnnotations::LiveSetting(HWND window, TLiveSetting setting) {
    wanted_.push_back({window, static_cast<DWORD>(OBJID_CLIENT), &kLiveSettingProperty, {}, static_cast<int>(setting)});
    if (applied_) Make(wanted_.back());
}

void AccessibleAnnotations::Apply() {
    if (std::exchange(applied_, true)) return;
    Connect();
    for (const Annotation& annotation : wanted_) Make(annotation);
}

// Any step may fail: oleacc missing, COM refused, no such class. Then there
// is nothing to annotate with, and nothing else changes.
void AccessibleAnnotations::Connect() {
    try {
        const DllSearch search = FindDllSearch();
        ole32_ = LoadSystemLibrary(search, L"ole32.dll");
        oleacc_ = LoadSystemLibrary(search, L"oleacc.dll");  // before COM looks for it by its registered path
    } catch (...) {
        return;
    }
    const auto initialize = FindSystemFunction<CoInitializeExFn>(L"ole32.dll", "CoInitializeEx");
    const auto create = FindSystemFunction<CoCreateInstanceFn>(L"ole32.dll", "CoCreateInstance");
    const auto uninitialize = FindSystemFunction<Apartment::UninitializeFn>(L"ole32.dll", "CoUninitialize");
    if (!initialize || !create || !uninitialize) return;
    if (FAILED(initialize(nullptr, COINIT_APARTMENTTHREADED))) return;  // another model: not this thread's to run
    apartment_.uninitialize = uninitialize;
    void* services = nullptr;
    if (SUCCEEDED(create(kAccPropServicesClass, nullptr, CLSCTX_INPROC_SERVER, kAccPropServicesInterface, &services)))
        services_.reset(static_cast<IAccPropServices*>(services));
}

void AccessibleAnnotations::Make(const Annotation& annotation) const {
    if (!services_) return;
    IAccPropServices* services = services_.get();
    if (annotation.property == &kAccessibleNameProperty) {
        services->SetHwndPropStr(annotation.window, annotation.object, CHILDID_SELF, *annotation.property,
                                 annotation.text.c_str());
    } else {
        VARIANT value{};
        value.vt = VT_I4;
        value.lVal = annotation.number;
        services->SetHwndProp(annotation.window, annotation.object, CHILDID_SELF, *annotation.property, value);
    }
}

void AccessibleAnnotations::Clear() {
    if (services_) {
        for (const Annotation& annotation : wanted_)
            services_.get()->ClearHwndProps(annotation.window, annotation.object, CHILDID_SELF, annotation.property, 1);
    }
    wanted_.clear();
}

}  // namespace toolkit
