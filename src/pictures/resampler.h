#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "pictures/area_scaler.h"
#include "pictures/decode.h"
#include "pictures/image.h"
#include "pictures/row_sink.h"
#include "pictures/source_rows.h"

namespace pictures {

// Scales the incoming rows to a fixed size, one axis at a time. Along an axis the picture
// shrinks on, every destination pixel is the mean of the source area under it; along an axis
// it grows on, it is interpolated linearly between the two source pixels nearest its centre,
// so an enlarged picture is smooth instead of repeating pixels in blocks. Works in
// premultiplied alpha, then lays the result over the background. A picture that grows on
// neither axis goes to the AreaScaler, unchanged.
class Resampler final : public RowSink {
public:
    // Throws DecodeError if the destination size is out of `limits`.
    Resampler(int width, int height, std::uint32_t background, const Limits& limits = {},
              Instructions instructions = Instructions::kBest);

    void Begin(int width, int height) override;
    void Row(std::span<const std::uint8_t> rgba) override;

    // The finished picture; throws DecodeError if rows are missing.
    Image Take();

    // The source pixels one destination pixel is made of, and their weights (fixed point,
    // summing to exactly 1 << 12).
    struct Taps {
        int first;
        int count;
        std::size_t weights;  // index of the first weight
    };
    struct Axis {
        std::vector<Taps> taps;  // one per destination pixel
        std::vector<std::int32_t> weights;
        int widest = 0;  // the largest count
    };
    static Axis MakeAxis(int source, int destination);
    struct Kernels;

private:
    // Emits every destination row whose source rows are among the first `arrived`.
    void EmitRows(int arrived);

    const Kernels* kernels_;
    Instructions instructions_;
    int dstWidth_;
    int dstHeight_;
    std::uint32_t background_;
    Limits limits_;
    SourceRows rows_;
    int dstRow_ = 0;
    Axis columns_;
    Axis rowTaps_;
    std::vector<std::uint16_t> premultiplied_;   // one source row
    std::vector<std::uint16_t> recent_;          // the last rowTaps_.widest source rows, scaled across
    std::vector<const std::uint16_t*> sources_;  // the rows of recent_ one destination row takes
    Image out_;
    std::optional<AreaScaler> area_;
};

}  // namespace pictures
