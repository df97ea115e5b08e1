#pragma once

#include <cstdint>
#include <vector>

#include "pictures/decode.h"
#include "pictures/image.h"
#include "pictures/processor.h"
#include "pictures/row_sink.h"
#include "pictures/source_rows.h"

namespace pictures {

// Box-filters the incoming rows to a fixed size: every destination pixel is the mean of the
// source area under it, weighted by exact fractional coverage, in premultiplied alpha, and
// then laid over the background. Works for shrinking and stretching alike. Each source row is
// added into the destination row it falls in, at full width; a destination row is summed
// across only once, when its last source row has come.
class AreaScaler final : public RowSink {
public:
    using Instructions = pictures::Instructions;
    // True where kBest runs the SSE2 loops, in either encoding.
    static bool BestIsSse2();

    // Throws DecodeError if the destination size is out of `limits`.
    AreaScaler(int width, int height, std::uint32_t background, const Limits& limits = {},
               Instructions instructions = Instructions::kBest);

    void Begin(int width, int height) override;
    void Row(std::span<const std::uint8_t> rgba) override;

    // The finished picture; throws DecodeError if rows are missing.
    Image Take();

    // The source pixels under one destination column: the first and last are weighed by how
    // much of them it covers; those between lie wholly inside and share one weight.
    struct Column {
        std::uint32_t first;
        std::uint32_t count;
        std::uint32_t firstWeight;
        std::uint32_t lastWeight;
    };
    // Where a source row's premultiplied pixels go: `weight` times them into `sums`.
    struct RowShare {
        std::uint32_t* sums;
        std::uint32_t weight;
    };
    struct Kernels;

private:
    void EmitRow();

    const Kernels* kernels_;
    int dstWidth_;
    int dstHeight_;
    std::uint32_t background_;
    SourceRows rows_;
    int dstRow_ = 0;
    std::uint64_t full_ = 0;           // total weight a destination pixel collects, times 255
    bool narrow_ = false;              // see Kernels::emitRow
    std::vector<Column> columns_;      // computed once per picture
    std::vector<std::uint32_t> sums_;  // the destination row being built, R*A, G*A, B*A, A per source pixel
    std::vector<std::uint32_t> next_;  // the one after it
    Image out_;
};

// Convenience over AreaScaler for a picture already in memory.
Image ScaleRgba(const RgbaImage& source, int width, int height, std::uint32_t background,
                AreaScaler::Instructions instructions = AreaScaler::Instructions::kBest);

}  // namespace pictures
