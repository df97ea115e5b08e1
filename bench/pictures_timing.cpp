// Times the launcher's picture path in-process, each stage apart, and the floors under it: zlib
// inflating the logo's stream alone, its checksum, and libjpeg decoding the banner alone. Prints
// medians and the fastest runs.
// Built with the benchmark (bench/CMakeLists.txt, MinGW: run it under Wine for the shipped i686
// build's figures), or natively as a steady stand-in for callgrind:
//   g++ -O3 -std=c++20 -Isrc bench/pictures_timing.cpp src/pictures/*.cpp -lz -ljpeg
//   pictures_timing assets/banner.jpg assets/logo.png [repetitions]
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

#include "pictures/adler32.h"
#include "pictures/decode.h"
#include "pictures/image.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadAll(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::uint32_t Be32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// The zlib stream of a PNG: its IDAT chunks joined.
Bytes ImageData(const Bytes& png) {
    Bytes stream;
    for (std::size_t pos = 8; pos + 12 <= png.size();) {
        const std::uint32_t length = Be32(&png[pos]);
        if (Be32(&png[pos + 4]) == Be32(reinterpret_cast<const std::uint8_t*>("IDAT"))) {
            stream.insert(stream.end(), png.begin() + std::ptrdiff_t(pos + 8),
                          png.begin() + std::ptrdiff_t(pos + 8 + length));
        }
        pos += 12 + std::size_t{length};
    }
    return stream;
}

// zlib alone, in one call into a buffer that holds it all, checksum unchecked.
void InflateAll(const Bytes& stream, Bytes& out) {
    z_stream zs{};
    inflateInit(&zs);
    inflateValidate(&zs, 0);
    zs.next_in = const_cast<Bytef*>(stream.data());
    zs.avail_in = static_cast<uInt>(stream.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    if (inflate(&zs, Z_FINISH) != Z_STREAM_END) std::abort();
    inflateEnd(&zs);
}

struct NoSink final : pictures::RowSink {
    void Begin(int, int) override {}
    void Row(std::span<const std::uint8_t>) override {}
};

// FNV-1a of the pixels, to show that a change kept them.
std::uint64_t Hash(const pictures::Image& image) {
    std::uint64_t h = 0xcbf29ce484222325u;
    for (const std::uint32_t pixel : image.pixels) h = (h ^ pixel) * 0x100000001b3u;
    return h;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
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
    const Bytes banner = ReadAll(argv[1]), logo = ReadAll(argv[2]);
    const Bytes logoStream = ImageData(logo);
    Bytes inflated(989 * (989 * 4 + 1));
    struct Stage {
        const char* name;
        std::function<void()> work;
        std::vector<double> ms;
    };
    NoSink none;
    std::uint32_t checksum = 1;  // printed, so that the sums are not optimised away
    std::vector<Stage> stages = {
        {"floor: logo stream inflated alone", [&] { InflateAll(logoStream, inflated); }, {}},
        {"logo's rows checksummed alone",
         [&] { checksum = pictures::Adler32For()(checksum, inflated.data(), inflated.size()); },
         {}},
        {"banner decoded, rows dropped", [&] { pictures::Decode(banner, none); }, {}},
        {"logo decoded, rows dropped", [&] { pictures::Decode(logo, none); }, {}},
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
        std::printf("%-36s %6.3f ms %6.3f ms\n", stage.name, Median(stage.ms),
                    *std::min_element(stage.ms.begin(), stage.ms.end()));
    }
    struct Size {
        const Bytes& file;
        int width, height;
    };
    for (const Size& size : {Size{banner, 729, 105}, Size{logo, 202, 170}, Size{banner, 1094, 158},
                             Size{logo, 303, 255}, Size{banner, 1458, 210}, Size{logo, 404, 340}}) {
        std::printf(
            "pixels %dx%d: %016llx\n", size.width, size.height,
            static_cast<unsigned long long>(Hash(pictures::LoadPicture(size.file, size.width, size.height, 0xFFFFFF))));
    }
    std::printf("checksums chained: %08x\n", static_cast<unsigned>(checksum));
    return 0;
}
