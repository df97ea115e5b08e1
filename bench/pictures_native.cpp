// Native (Linux) timing of the launcher's picture path, for callgrind:
//   g++ -O3 -std=c++20 -Isrc bench/pictures_native.cpp src/pictures/*.cpp -lz -ljpeg
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "pictures/image.h"

static std::vector<unsigned char> ReadAll(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const int n = argc > 3 ? std::atoi(argv[3]) : 20;
    const auto banner = ReadAll(argv[1]), logo = ReadAll(argv[2]);
    for (int i = 0; i < n; ++i) {
        using clock = std::chrono::steady_clock;
        const auto a = clock::now();
        const auto b = pictures::LoadScaled(banner, 729, 105, 0xFFFFFF);
        const auto m = clock::now();
        const auto l = pictures::LoadScaled(logo, 202, 170, 0xFFFFFF);
        const auto e = clock::now();
        std::printf("banner %.2f ms  logo %.2f ms\n", std::chrono::duration<double, std::milli>(m - a).count(),
                    std::chrono::duration<double, std::milli>(e - m).count());
    }
    return 0;
}
