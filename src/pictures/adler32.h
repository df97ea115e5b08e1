#pragma once

#include <cstddef>
#include <cstdint>

namespace pictures {

// The Adler-32 checksum of zlib streams, continued from `adler` (1 to start) over `size` bytes.
using Adler32Function = std::uint32_t (*)(std::uint32_t adler, const std::uint8_t* data, std::size_t size);

// The fastest form this processor runs (SSE2 on x86), or the portable one; both give the same sum.
Adler32Function BestAdler32();
std::uint32_t PortableAdler32(std::uint32_t adler, const std::uint8_t* data, std::size_t size);

}  // namespace pictures
