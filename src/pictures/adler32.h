#pragma once

#include <cstddef>
#include <cstdint>

#include "pictures/processor.h"

namespace pictures {

// The Adler-32 checksum of zlib streams, continued from `adler` (1 to start) over `size` bytes.
using Adler32Function = std::uint32_t (*)(std::uint32_t adler, const std::uint8_t* data, std::size_t size);

// The form `instructions` asks for on this processor; all give the same sum.
Adler32Function Adler32For(Instructions instructions = Instructions::kBest);
std::uint32_t PortableAdler32(std::uint32_t adler, const std::uint8_t* data, std::size_t size);

}  // namespace pictures
