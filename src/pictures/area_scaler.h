#pragma once

#include <cstdint>
#include <vector>

#include "pictures/decode.h"
#include "pictures/image.h"
#include "pictures/row_sink.h"

namespace pictures {

// Box-filters the incoming rows to a fixed size: every destination pixel is the mean of the
// source area under it, weighted by exact fractional coverage, in premultiplied alpha, and
// then laid over the background. Works for shrinking and stretching alike.
class AreaScaler final : public RowSink {
public:
    // Which row loops to run: the best the processor has (SSE2 on x86, checked at run time), or
    // plain C++ for any processor. Both give the same pixels.
    enum class Instructions { kBest, kPortable };
    // True where kBest runs the SSE2 loops.
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
    struct Kernels;

private:
    template <typename Sum>
    void Accumulate();
    void EmitRow();

    const Kernels* kernels_;
    int dstWidth_;
    int dstHeight_;
    std::uint32_t background_;
    int srcWidth_ = 0;
    int srcHeight_ = 0;
    int srcRow_ = 0;
    int dstRow_ = 0;
    bool begun_ = false;
    bool narrowSums_ = false;                   // a row's horizontal sums fit in 32 bits
    std::uint64_t full_ = 0;                    // total weight a destination pixel collects, times 255
    std::vector<Column> columns_;               // computed once per picture
    std::vector<std::uint32_t> premultiplied_;  // one source row, R*A, G*A, B*A, A
    std::vector<std::uint32_t> narrowSum_;      // one source row, scaled horizontally, when
    std::vector<std::uint64_t> wideSum_;        // narrowSums_, else the wide one
    std::vector<std::uint64_t> accumulator_;    // the destination row being built
    // Source rows wholly inside the destination row all weigh the same: plain narrow sums,
    // weighed once as the row is emitted (when wholeRows_, else left at zero).
    bool wholeRows_ = false;
    std::vector<std::uint32_t> whole_;
    Image out_;
};

// Convenience over AreaScaler for a picture already in memory.
Image ScaleRgba(const RgbaImage& source, int width, int height, std::uint32_t background,
                AreaScaler::Instructions instructions = AreaScaler::Instructions::kBest);

}  // namespace pictures
