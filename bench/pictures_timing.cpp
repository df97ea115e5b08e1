// Times the launcher's picture path in-process, each stage apart, beside the floors under it
// (picture_floors.h), at 96 and 144 dpi. Prints medians and the fastest runs, and a hash of each
// scaled picture, to show that a change kept the pixels.
// Built with the benchmark (bench/CMakeLists.txt, MinGW: run it under Wine for the shipped i686
// build's figures), or natively as a steady stand-in for callgrind:
//   g++ -O3 -std=c++20 -Isrc bench/pictures_timing.cpp bench/picture_floors.cpp bench/statistics.cpp
//       src/pictures/*.cpp -lz -ljpeg   (one command)
//   pictures_timing assets/banner.jpg assets/logo.png [repetitions]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "picture_floors.h"
#include "statistics.h"
#include "pictures/image.h"

namespace {

// FNV-1a of the pixels, to show that a change kept them.
std::uint64_t Hash(const pictures::Image& image) {
    std::uint64_t h = 0xcbf29ce484222325u;
    for (const std::uint32_t pixel : image.pixels) h = (h ^ pixel) * 0x100000001b3u;
    return h;
}

double TimeMs(const std::function<void()>& work) {
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    work();
    return std::chrono::duration<double, std::milli>(clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s banner.jpg logo.png [repetitions]\n", argv[0]);
        return 2;
    }
    const int n = argc > 3 ? std::atoi(argv[3]) : 200;
    const bench::Bytes banner = bench::ReadFile(argv[1]), logo = bench::ReadFile(argv[2]);
    bench::PictureFloors floors(banner, logo);
    struct Stage {
        const char* name;
        std::function<void()> work;
        std::vector<double> ms;
    };
    std::vector<Stage> stages = {
        {"floor: logo stream inflated alone", [&] { floors.InflateLogo(); }, {}},
        {"floor: logo's rows checksummed", [&] { floors.ChecksumLogo(); }, {}},
        {"floor: banner decoded, rows dropped", [&] { floors.DecodeBanner(); }, {}},
        {"logo decoded, rows dropped", [&] { bench::DecodeRowsDropped(logo); }, {}},
        {"banner 960x209 -> 729x105", [&] { (void)pictures::LoadPicture(banner, 729, 105, 0xFFFFFF); }, {}},
        {"logo 989x989 -> 202x170", [&] { (void)pictures::LoadPicture(logo, 202, 170, 0xFFFFFF); }, {}},
        {"banner at 144 dpi, 1094x158", [&] { (void)pictures::LoadPicture(banner, 1094, 158, 0xFFFFFF); }, {}},
        {"logo at 144 dpi, 303x255", [&] { (void)pictures::LoadPicture(logo, 303, 255, 0xFFFFFF); }, {}},
    };
    for (int i = 0; i < n; ++i) {
        for (Stage& stage : stages) stage.ms.push_back(TimeMs(stage.work));
    }
    // The fastest run too: on a shared machine it moves least with the load.
    std::printf("%-36s %9s %9s\n", "stage", "median", "fastest");
    for (const Stage& stage : stages) {
        std::printf("%-36s %6.3f ms %6.3f ms\n", stage.name, bench::Median(stage.ms),
                    *std::min_element(stage.ms.begin(), stage.ms.end()));
    }
    struct Size {
        const bench::Bytes& file;
        int width, height;
    };
    for (const Size& size : {Size{banner, 729, 105}, Size{logo, 202, 170}, Size{banner, 1094, 158},
                             Size{logo, 303, 255}, Size{banner, 1458, 210}, Size{logo, 404, 340}}) {
        std::printf(
            "pixels %dx%d: %016llx\n", size.width, size.height,
            static_cast<unsigned long long>(Hash(pictures::LoadPicture(size.file, size.width, size.height, 0xFFFFFF))));
    }
    std::printf("checksums chained: %08x\n", static_cast<unsigned>(floors.Checksum()));
    return 0;
}
