#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace fotolane::jpeg {

// A finished JPEG file in memory, in the encoder's own allocation.
class JpegBytes {
  public:
    std::span<const std::uint8_t> Bytes() const { return {data_.get(), size_}; }

  private:
    friend class Compressor;
    struct Free {
        void operator()(std::uint8_t* data) const noexcept;
    };
    std::unique_ptr<std::uint8_t, Free> data_;
    std::size_t size_ = 0;
};

// One TurboJPEG compressor, destroyed with the object.
class Compressor {
  public:
    Compressor() noexcept;
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
    ~Compressor();

    // 0 when the compressor is ready; otherwise the library could not set
    // one up and this is its error code (TurboJPEG knows only -1).
    std::int32_t InitCode() const { return handle_ != nullptr ? 0 : -1; }

    // Encodes width x height pixels of 3 bytes in the order blue, green, red,
    // read in place from bottom-up rows: `rows` is the start of the bottom
    // row, every row `pitch` bytes. The file is upright (its top row is the
    // last row in memory), 4:2:0 chroma subsampled, at `quality` (1 to 100).
    // A fault with the library's description when it refuses.
    JpegBytes CompressBottomUpBgr(const std::uint8_t* rows, std::int32_t width, std::int32_t pitch,
                                  std::int32_t height, std::int32_t quality);

  private:
    void* handle_ = nullptr;
};

}  // namespace fotolane::jpeg
