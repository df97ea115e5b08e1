#include "timings.h"

#include <windows.h>

#include <algorithm>
#include <functional>

#include "clock.h"
#include "picture_floors.h"
#include "pictures/image.h"

namespace bench {

namespace {

// The layout's sizes of the two pictures at 96 dpi.
constexpr int kBannerWidth = 729, kBannerHeight = 105, kLogoWidth = 202, kLogoHeight = 170;

double TimeMs(const Clock& clock, const std::function<void()>& work) {
    const double start = clock.Now();
    work();
    return clock.Now() - start;
}

}  // namespace

InProcessTimes TimeInProcess(const std::wstring& bannerPath, const std::wstring& logoPath, int rounds) {
    const Clock clock;
    const Bytes banner = ReadFile(bannerPath), logo = ReadFile(logoPath);
    PictureFloors floors(banner, logo);
    InProcessTimes t;
    // Enough rounds for steady medians, at a few tens of milliseconds each.
    for (int i = 0; i < std::max(rounds, 50); ++i) {
        // Each picture beside its floor, back to back, so that the two share the moment's load.
        t.banner.push_back(
            TimeMs(clock, [&] { (void)pictures::LoadPicture(banner, kBannerWidth, kBannerHeight, 0xFFFFFF); }));
        t.bannerFloor.push_back(TimeMs(clock, [&] { floors.DecodeBanner(); }));
        t.logo.push_back(TimeMs(clock, [&] { (void)pictures::LoadPicture(logo, kLogoWidth, kLogoHeight, 0xFFFFFF); }));
        t.logoInflate.push_back(TimeMs(clock, [&] { floors.InflateLogo(); }));
        t.logoChecksum.push_back(TimeMs(clock, [&] { floors.ChecksumLogo(); }));
        t.logoDecode.push_back(TimeMs(clock, [&] { DecodeRowsDropped(logo); }));
        t.both.push_back(t.banner.back() + t.logo.back());
        if (i == 0) t.firstBoth = t.both.back();
    }
    for (int i = 0; i < rounds; ++i) t.sleep100.push_back(TimeMs(clock, [] { Sleep(100); }));
    return t;
}

}  // namespace bench
