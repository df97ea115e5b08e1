#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "pictures/adler32.h"

namespace {

// Adler-32 as defined: byte by byte, reduced every step.
std::uint32_t Reference(std::uint32_t adler, const std::vector<std::uint8_t>& data) {
    std::uint32_t a = adler & 0xFFFF, b = adler >> 16;
    for (std::uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return b << 16 | a;
}

// Lengths around the 16-byte steps and the block after which the fast form reduces its sums;
// all-0xFF bytes push those sums to their largest.
TEST(Adler32, FastAndPortableFormsMatchTheDefinition) {
    const std::size_t lengths[] = {0, 1, 15, 16, 17, 31, 5535, 5536, 5537, 5552, 11072, 100003};
    const std::uint32_t starts[] = {1, 0xFFF0FFF0, 0x12345678 % 65521};
    std::uint32_t seed = 99;
    for (std::size_t length : lengths) {
        for (bool saturated : {true, false}) {
            std::vector<std::uint8_t> data(length);
            for (std::uint8_t& byte : data)
                byte = saturated ? 0xFF : std::uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
            for (std::uint32_t start : starts) {
                const std::uint32_t expected = Reference(start, data);
                for (const auto instructions : {pictures::Instructions::kBest, pictures::Instructions::kSse2,
                                                pictures::Instructions::kPortable}) {
                    EXPECT_EQ(pictures::Adler32For(instructions)(start, data.data(), data.size()), expected)
                        << length << " form " << static_cast<int>(instructions);
                }
            }
        }
    }
}

}  // namespace
