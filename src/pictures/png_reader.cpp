#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pictures/adler32.h"
#include "pictures/decode.h"

namespace pictures {
namespace {

constexpr std::uint32_t ChunkType(const char (&name)[5]) {
    return std::uint32_t(std::uint8_t(name[0])) << 24 | std::uint32_t(std::uint8_t(name[1])) << 16 |
           std::uint32_t(std::uint8_t(name[2])) << 8 | std::uint32_t(std::uint8_t(name[3]));
}

constexpr std::uint32_t kIHDR = ChunkType("IHDR");
constexpr std::uint32_t kPLTE = ChunkType("PLTE");
constexpr std::uint32_t kIDAT = ChunkType("IDAT");
constexpr std::uint32_t kIEND = ChunkType("IEND");
constexpr std::uint32_t kTRNS = ChunkType("tRNS");

std::uint32_t Be32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

bool IsLetter(std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

[[noreturn]] void Fail(const char* message) { throw DecodeError(std::string("PNG: ") + message); }

// Room for rows inflated in one go: big enough that zlib's fast loop does nearly all the work
// and that the 32 KiB it copies into its window after each call is a small share of the output.
constexpr std::size_t kInflateBytes = 256 * 1024;

enum ColorType { kGrey = 0, kRgb = 2, kPalette = 3, kGreyAlpha = 4, kRgba = 6 };

class PngReader {
public:
    PngReader(std::span<const std::uint8_t> file, RowSink& sink, const Limits& limits)
        : file_(file), sink_(sink), limits_(limits) {}
    ~PngReader() {
        if (inflating_) inflateEnd(&zs_);
    }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;

    void Run() {
        if (!LooksLikePng(file_)) Fail("bad signature");
        std::size_t pos = 8;
        bool afterIdat = false;
        for (;;) {
            if (file_.size() - pos < 12) Fail(pos == file_.size() ? "no IEND chunk" : "truncated chunk");
            const std::uint32_t length = Be32(&file_[pos]);
            if (length > 0x7FFFFFFFu) Fail("chunk length out of range");
            if (file_.size() - pos - 12 < length) Fail("truncated chunk");
            const std::uint8_t* typeBytes = &file_[pos + 4];
            if (!std::all_of(typeBytes, typeBytes + 4, IsLetter)) Fail("bad chunk type");
            const std::uint32_t type = Be32(typeBytes);
            const std::uint8_t* data = typeBytes + 4;
            const std::uint32_t crc = Be32(data + length);
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION  // else nearly every mutation dies here
            if (crc32(crc32(0L, Z_NULL, 0), typeBytes, length + 4) != crc) Fail("bad chunk CRC");
#else
            (void)crc;
#endif
            pos += 12 + std::size_t{length};

            if (!haveHeader_ && type != kIHDR) Fail("IHDR is not the first chunk");
            if (type != kIDAT && seenIdat_) afterIdat = true;
            if (type == kIHDR) {
                Header(data, length);
            } else if (type == kPLTE) {
                Palette(data, length);
            } else if (type == kTRNS) {
                Transparency(data, length);
            } else if (type == kIDAT) {
                if (afterIdat) Fail("IDAT chunks are not consecutive");
                ImageData(data, length);
            } else if (type == kIEND) {
                if (length != 0) Fail("IEND is not empty");
                End();
                if (pos != file_.size()) Fail("data after IEND");
                return;
            } else if ((typeBytes[0] & 0x20) == 0) {
                Fail("unknown critical chunk");
            }
        }
    }

private:
    void Header(const std::uint8_t* data, std::uint32_t length) {
        if (haveHeader_) Fail("second IHDR");
        if (length != 13) Fail("IHDR has the wrong length");
        haveHeader_ = true;
        const std::uint32_t width = Be32(data), height = Be32(data + 4);
        if (width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) Fail("size out of range");
        CheckSize(width, height, limits_, "PNG picture");
        width_ = static_cast<int>(width);
        height_ = static_cast<int>(height);
        depth_ = data[8];
        colorType_ = data[9];
        const bool depthOk = [&] {
            switch (colorType_) {
                case kGrey:
                    return depth_ == 1 || depth_ == 2 || depth_ == 4 || depth_ == 8 || depth_ == 16;
                case kPalette:
                    return depth_ == 1 || depth_ == 2 || depth_ == 4 || depth_ == 8;
                case kRgb:
                case kGreyAlpha:
                case kRgba:
                    return depth_ == 8 || depth_ == 16;
                default:
                    Fail("bad colour type");
            }
        }();
        if (!depthOk) Fail("bad bit depth for the colour type");
        if (data[10] != 0) Fail("unknown compression method");
        if (data[11] != 0) Fail("unknown filter method");
        if (data[12] == 1) Fail("interlaced pictures are not supported");
        if (data[12] != 0) Fail("unknown interlace method");
        channels_ = colorType_ == kRgb ? 3 : colorType_ == kGreyAlpha ? 2 : colorType_ == kRgba ? 4 : 1;
        const std::size_t bits = std::size_t(channels_) * depth_;
        stride_ = (std::size_t(width_) * bits + 7) / 8;
        filterStep_ = std::max<std::size_t>(1, bits / 8);
        scale_ = depth_ == 16 ? 0 : 255 / ((1u << depth_) - 1);  // whole for 1, 2, 4 and 8 bits
    }

    void Palette(const std::uint8_t* data, std::uint32_t length) {
        if (colorType_ == kGrey || colorType_ == kGreyAlpha) Fail("PLTE in a greyscale picture");
        if (paletteSize_ != 0) Fail("second PLTE");
        if (seenIdat_ || haveTrns_) Fail("PLTE out of order");
        if (length == 0 || length % 3 != 0 || length > 3 * 256) Fail("PLTE has a bad length");
        // Truecolour pictures may carry a suggested palette; it changes nothing here.
        if (colorType_ != kPalette) return;
        paletteSize_ = length / 3;
        if (paletteSize_ > (1u << depth_)) Fail("PLTE has more entries than the bit depth allows");
        for (std::size_t i = 0; i < paletteSize_; ++i) {
            palette_[i] = {data[i * 3], data[i * 3 + 1], data[i * 3 + 2], 255};
        }
    }

    void Transparency(const std::uint8_t* data, std::uint32_t length) {
        if (haveTrns_) Fail("second tRNS");
        if (seenIdat_) Fail("tRNS after IDAT");
        haveTrns_ = true;
        switch (colorType_) {
            case kPalette:
                if (paletteSize_ == 0) Fail("tRNS before PLTE");
                if (length > paletteSize_) Fail("tRNS longer than the palette");
                for (std::size_t i = 0; i < length; ++i) palette_[i][3] = data[i];
                break;
            case kGrey:
                if (length != 2) Fail("tRNS has the wrong length");
                trns_[0] = std::uint16_t(data[0] << 8 | data[1]);
                break;
            case kRgb:
                if (length != 6) Fail("tRNS has the wrong length");
                for (int i = 0; i < 3; ++i) trns_[i] = std::uint16_t(data[i * 2] << 8 | data[i * 2 + 1]);
                break;
            default:
                Fail("tRNS in a picture with an alpha channel");
        }
    }

    void ImageData(const std::uint8_t* data, std::uint32_t length) {
        if (!seenIdat_) {
            if (colorType_ == kPalette && paletteSize_ == 0) Fail("no PLTE before IDAT");
            seenIdat_ = true;
            std::memset(&zs_, 0, sizeof zs_);
            if (inflateInit(&zs_) != Z_OK) Fail("cannot start zlib");
            inflating_ = true;
            // zlib's own checksum loop is plain C; the rows are summed below, faster.
            inflateValidate(&zs_, 0);
            // Whole rows, so zlib's fast loop runs long and rows are unfiltered where they land.
            const std::size_t rowSize = stride_ + 1;
            rowsSize_ = rowSize * std::max<std::size_t>(2, kInflateBytes / rowSize);
            rows_ = std::make_unique_for_overwrite<std::uint8_t[]>(rowsSize_);  // every byte is inflated before use
            zeros_.assign(stride_, 0);
            above_ = zeros_.data();
            remaining_ = rowSize * std::size_t(height_);
            rgba_.assign(std::size_t(width_) * 4, 0);
            sink_.Begin(width_, height_);
        }
        zs_.next_in = const_cast<Bytef*>(data);
        zs_.avail_in = length;
        Inflate();
    }

    // Inflates what input there is into the row buffer and hands on each row as it completes;
    // also drains output zlib still holds back.
    void Inflate() {
        const std::size_t rowSize = stride_ + 1;
        for (;;) {
            if (streamEnded_) {
                if (zs_.avail_in != 0) Fail("data after the end of the compressed stream");
                return;
            }
            std::uint8_t spare;
            const bool rowsDone = remaining_ == 0;
            if (rowsDone) {
                zs_.next_out = &spare;  // any byte landing here is one too many
                zs_.avail_out = 1;
            } else {
                // Never past the last row, nor over the row above the next one to unfilter (the
                // buffer's last row, just after wrapping round).
                std::size_t end = rowsSize_;
                if (consumed_ == 0 && above_ != zeros_.data()) end -= rowSize;
                zs_.next_out = rows_.get() + filled_;
                zs_.avail_out = static_cast<uInt>(std::min(end - filled_, remaining_));
            }
            const uInt asked = zs_.avail_out;
            const Bytef* input = zs_.next_in;
            const int status = inflate(&zs_, Z_NO_FLUSH);
            NoteRead(input, zs_.next_in);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) Fail("bad compressed data");
            if (rowsDone) {
                if (zs_.avail_out == 0) Fail("more image data than the picture needs");
            } else {
                const std::size_t produced = asked - zs_.avail_out;
                adler_ = adler32_(adler_, rows_.get() + filled_, produced);
                filled_ += produced;
                remaining_ -= produced;
                while (filled_ - consumed_ >= rowSize) {
                    FinishRow(rows_.get() + consumed_);
                    consumed_ += rowSize;
                }
                if (consumed_ == rowsSize_) filled_ = consumed_ = 0;
            }
            if (status == Z_STREAM_END) {
                if (lastRead_ != adler_) Fail("bad compressed data");
                streamEnded_ = true;
            }
            if (status == Z_BUF_ERROR) return;  // nothing more without further input
        }
    }

    // Keeps the last four compressed bytes read: once the stream has ended, its checksum.
    void NoteRead(const Bytef* from, const Bytef* to) {
        for (const Bytef* p = to - std::min<std::ptrdiff_t>(to - from, 4); p != to; ++p)
            lastRead_ = lastRead_ << 8 | *p;
    }

    void End() {
        if (!seenIdat_) Fail("no IDAT chunk");
        zs_.next_in = nullptr;
        zs_.avail_in = 0;
        Inflate();
        if (rowsDone_ != height_) Fail("image data ends early");
        if (!streamEnded_) Fail("compressed stream ends early");
    }

    // Unfilters a row in place (filter byte first) and passes it on.
    void FinishRow(std::uint8_t* row) {
        std::uint8_t* x = row + 1;
        const std::uint8_t* up = above_;
        const std::size_t n = stride_, step = filterStep_;
        switch (row[0]) {
            case 0:
                break;
            case 1:
                for (std::size_t i = step; i < n; ++i) x[i] = std::uint8_t(x[i] + x[i - step]);
                break;
            case 2:
                for (std::size_t i = 0; i < n; ++i) x[i] = std::uint8_t(x[i] + up[i]);
                break;
            case 3:
                for (std::size_t i = 0; i < n; ++i) {
                    const unsigned left = i >= step ? x[i - step] : 0;
                    x[i] = std::uint8_t(x[i] + ((left + up[i]) >> 1));
                }
                break;
            case 4:
                for (std::size_t i = 0; i < n; ++i) {
                    const int a = i >= step ? x[i - step] : 0;
                    const int b = up[i];
                    const int c = i >= step ? up[i - step] : 0;
                    const int p = a + b - c;
                    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                    const int predictor = (pa <= pb && pa <= pc) ? a : pb <= pc ? b : c;
                    x[i] = std::uint8_t(x[i] + predictor);
                }
                break;
            default:
                Fail("unknown row filter");
        }
        above_ = x;
        ++rowsDone_;
        if (depth_ == 8 && colorType_ == kRgba) {
            sink_.Row(std::span<const std::uint8_t>(x, n));  // already what the sink takes
            return;
        }
        if (depth_ == 8 && colorType_ == kRgb && !haveTrns_) {
            std::uint8_t* out = rgba_.data();
            for (std::size_t i = 0; i < n; i += 3, out += 4) {
                out[0] = x[i];
                out[1] = x[i + 1];
                out[2] = x[i + 2];
                out[3] = 255;
            }
        } else {
            ConvertRow(x);
        }
        sink_.Row(rgba_);
    }

    unsigned Sample(const std::uint8_t* row, std::size_t index) const {
        if (depth_ == 16) return unsigned(row[index * 2]) << 8 | row[index * 2 + 1];
        if (depth_ == 8) return row[index];
        const std::size_t bit = index * depth_;
        const unsigned mask = (1u << depth_) - 1;
        return (row[bit / 8] >> (8 - depth_ - bit % 8)) & mask;
    }

    std::uint8_t To8(unsigned sample) const {
        // Nearest 8-bit value: round(v / 257); never a tie, as 257 is odd.
        if (depth_ == 16) return std::uint8_t((sample + 128) / 257);
        return std::uint8_t(sample * scale_);
    }

    void ConvertRow(const std::uint8_t* row) {
        std::uint8_t* out = rgba_.data();
        for (std::size_t i = 0; i < std::size_t(width_); ++i, out += 4) {
            const std::size_t s = i * channels_;
            switch (colorType_) {
                case kGrey: {
                    const unsigned v = Sample(row, s);
                    out[0] = out[1] = out[2] = To8(v);
                    out[3] = haveTrns_ && v == trns_[0] ? 0 : 255;
                    break;
                }
                case kGreyAlpha:
                    out[0] = out[1] = out[2] = To8(Sample(row, s));
                    out[3] = To8(Sample(row, s + 1));
                    break;
                case kRgb: {
                    const unsigned r = Sample(row, s), g = Sample(row, s + 1), b = Sample(row, s + 2);
                    out[0] = To8(r);
                    out[1] = To8(g);
                    out[2] = To8(b);
                    out[3] = haveTrns_ && r == trns_[0] && g == trns_[1] && b == trns_[2] ? 0 : 255;
                    break;
                }
                case kRgba:
                    for (std::size_t c = 0; c < 4; ++c) out[c] = To8(Sample(row, s + c));
                    break;
                case kPalette: {
                    const unsigned index = Sample(row, s);
                    if (index >= paletteSize_) Fail("palette index out of range");
                    std::memcpy(out, palette_[index].data(), 4);
                    break;
                }
            }
        }
    }

    std::span<const std::uint8_t> file_;
    RowSink& sink_;
    const Limits& limits_;

    bool haveHeader_ = false;
    int width_ = 0, height_ = 0;
    unsigned depth_ = 0, colorType_ = 0, channels_ = 0, scale_ = 0;
    std::size_t stride_ = 0, filterStep_ = 0;
    std::array<std::array<std::uint8_t, 4>, 256> palette_{};
    std::size_t paletteSize_ = 0;
    bool haveTrns_ = false;
    std::uint16_t trns_[3] = {};

    bool seenIdat_ = false;
    bool inflating_ = false;
    bool streamEnded_ = false;
    z_stream zs_{};
    Adler32Function adler32_ = Adler32For();
    std::uint32_t adler_ = 1;     // of the bytes inflated so far
    std::uint32_t lastRead_ = 0;  // see NoteRead
    // Rows as stored (filter byte + row), inflated straight in and unfiltered in place.
    std::unique_ptr<std::uint8_t[]> rows_;
    std::size_t rowsSize_ = 0;
    std::vector<std::uint8_t> zeros_;      // the row above the top one
    const std::uint8_t* above_ = nullptr;  // the last row unfiltered
    std::vector<std::uint8_t> rgba_;
    std::size_t filled_ = 0;     // bytes of rows_ inflated
    std::size_t consumed_ = 0;   // bytes of rows_ already handed on
    std::size_t remaining_ = 0;  // bytes of image data not yet inflated
    int rowsDone_ = 0;
};

}  // namespace

void DecodePng(std::span<const std::uint8_t> file, RowSink& sink, const Limits& limits) {
    PngReader reader(file, sink, limits);
    reader.Run();
}

}  // namespace pictures
