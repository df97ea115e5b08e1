#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return pictures_fuzz::Run(
        data, size, [](auto file, auto& sink, const auto& limits) { pictures::DecodeJpeg(file, sink, limits); });
}
