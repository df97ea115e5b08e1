#pragma once
// The floors under the launcher's picture path: the work no reader of these two files can skip.
// The logo's floor is zlib inflating its stream alone, in one call into a buffer that holds it
// all, and the checksum of what it inflated; the banner's is libjpeg decoding it, its rows dropped.
// Whatever the launcher's path takes beyond them is its own: unfiltering, scaling, compositing.

#include <cstdint>
#include <filesystem>
#include <vector>

namespace bench {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const std::filesystem::path& path);

// The reader `file`'s signature picks, its rows handed on and dropped.
void DecodeRowsDropped(const Bytes& file);

class PictureFloors {
public:
    PictureFloors(const Bytes& banner, const Bytes& logo);
    void InflateLogo();
    void ChecksumLogo();  // the rows as InflateLogo left them, summed as the PNG reader sums them
    void DecodeBanner();
    // Chained over every ChecksumLogo, so that the sums are not optimised away.
    std::uint32_t Checksum() const { return checksum_; }

private:
    const Bytes& banner_;
    Bytes logoStream_, inflated_;
    std::uint32_t checksum_ = 1;
};

}  // namespace bench
