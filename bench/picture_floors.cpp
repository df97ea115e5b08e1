#include "picture_floors.h"

#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <span>

#include "pictures/adler32.h"
#include "pictures/decode.h"

namespace bench {

namespace {

std::uint32_t Be32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// The zlib stream of a PNG: its IDAT chunks joined.
Bytes ImageData(const Bytes& png) {
    Bytes stream;
    for (std::size_t pos = 8; pos + 12 <= png.size();) {
        const std::uint32_t length = Be32(&png[pos]);
        if (pos + 12 + std::size_t{length} > png.size()) break;
        if (Be32(&png[pos + 4]) == Be32(reinterpret_cast<const std::uint8_t*>("IDAT"))) {
            stream.insert(stream.end(), png.begin() + std::ptrdiff_t(pos + 8),
                          png.begin() + std::ptrdiff_t(pos + 8 + length));
        }
        pos += 12 + std::size_t{length};
    }
    return stream;
}

// The stored rows' size: a filter byte and four bytes a pixel (8-bit RGBA) for each row.
std::size_t InflatedSize(const Bytes& png) {
    const std::size_t width = Be32(&png.at(16)), height = Be32(&png.at(20));
    return height * (width * 4 + 1);
}

}  // namespace

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

PictureFloors::PictureFloors(const Bytes& banner, const Bytes& logo)
    : banner_(banner), logoStream_(ImageData(logo)), inflated_(InflatedSize(logo)) {}

void PictureFloors::InflateLogo() {
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) std::abort();
    inflateValidate(&zs, 0);  // the checksum is a floor of its own
    zs.next_in = logoStream_.data();
    zs.avail_in = static_cast<uInt>(logoStream_.size());
    zs.next_out = inflated_.data();
    zs.avail_out = static_cast<uInt>(inflated_.size());
    const int status = inflate(&zs, Z_FINISH);
    inflateEnd(&zs);
    if (status != Z_STREAM_END) std::abort();  // not the 8-bit RGBA logo the floor is for
}

void PictureFloors::ChecksumLogo() {
    checksum_ = pictures::Adler32For()(checksum_, inflated_.data(), inflated_.size());
}

void DecodeRowsDropped(const Bytes& file) {
    struct NoSink final : pictures::RowSink {
        void Begin(int, int) override {}
        void Row(std::span<const std::uint8_t>) override {}
    } none;
    pictures::Decode(file, none);
}

void PictureFloors::DecodeBanner() { DecodeRowsDropped(banner_); }

}  // namespace bench
