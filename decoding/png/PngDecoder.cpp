// PNG through libspng, one line at a time: the lines are decoded into one
// reused line of R, G, B, A (8 or 16 bits a channel), laid over white and
// given to a PixelSink as they come (the rows of DecodePng, or the album's
// area averaging), so that the working memory is a few lines whatever the
// colour type and size; an interlaced picture's passes each give their own
// columns of the lines they reach. Every allocation of
// libspng draws from the picture memory budget, and its chunk limits keep
// the ancillary chunks it stores (text, colour profiles, EXIF) small.
//
// As Chromium shows PNGs: the colours as stored (no gamma or colour
// profile), 16-bit channels by their high byte; an animated PNG's default
// image; data that ends or breaks after the image data has begun leaves
// the lines it does not reach white, while a file that breaks before it is
// no picture.

#include "decoding/png/PngDecoder.h"

#include <spng.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "decoding/AlbumFormats.h"
#include "platform/core/Fault.h"

namespace fotolane::picture::detail {

namespace {

// The largest ancillary chunk libspng reads, and all of them together.
constexpr std::size_t kChunkLimit = std::size_t{16} << 20;
constexpr std::size_t kChunkCache = std::size_t{32} << 20;

// libspng's allocations, each drawn from the picture memory budget; its size
// stands in a header before the block, to be given back when it is freed.
constexpr std::size_t kBlockHeader = alignof(std::max_align_t);

void* Allocate(std::size_t size) noexcept {
    if (size > SIZE_MAX - kBlockHeader) return nullptr;
    try {
        DrawPictureMemory(size + kBlockHeader);
    } catch (const Fault&) {
        return nullptr;
    }
    auto* block = static_cast<unsigned char*>(std::malloc(size + kBlockHeader));
    if (block == nullptr) {
        ReturnPictureMemory(size + kBlockHeader);
        return nullptr;
    }
    std::memcpy(block, &size, sizeof size);
    return block + kBlockHeader;
}

std::size_t SizeOf(void* memory) noexcept {
    std::size_t size = 0;
    std::memcpy(&size, static_cast<unsigned char*>(memory) - kBlockHeader, sizeof size);
    return size;
}

void Free(void* memory) noexcept {
    if (memory == nullptr) return;
    const std::size_t size = SizeOf(memory);
    std::free(static_cast<unsigned char*>(memory) - kBlockHeader);
    ReturnPictureMemory(size + kBlockHeader);
}

void* Reallocate(void* memory, std::size_t size) noexcept {
    if (memory == nullptr) return Allocate(size);
    const std::size_t old = SizeOf(memory);
    if (size > SIZE_MAX - kBlockHeader) return nullptr;
    if (size > old) {
        try {
            DrawPictureMemory(size - old);
        } catch (const Fault&) {
            return nullptr;
        }
    }
    auto* block = static_cast<unsigned char*>(
        std::realloc(static_cast<unsigned char*>(memory) - kBlockHeader, size + kBlockHeader));
    if (block == nullptr) {
        if (size > old) ReturnPictureMemory(size - old);
        return nullptr;
    }
    if (size < old) ReturnPictureMemory(old - size);
    std::memcpy(block, &size, sizeof size);
    return block + kBlockHeader;
}

void* AllocateZeroed(std::size_t count, std::size_t size) noexcept {
    if (size != 0 && count > SIZE_MAX / size) return nullptr;
    void* memory = Allocate(count * size);
    if (memory != nullptr) std::memset(memory, 0, count * size);
    return memory;
}

spng_alloc BudgetAllocator() {
    spng_alloc allocator{};
    allocator.malloc_fn = Allocate;
    allocator.realloc_fn = Reallocate;
    allocator.calloc_fn = AllocateZeroed;
    allocator.free_fn = Free;
    return allocator;
}

struct ContextDeleter {
    void operator()(spng_ctx* context) const noexcept { spng_ctx_free(context); }
};
using Context = std::unique_ptr<spng_ctx, ContextDeleter>;

// The bytes as a stream, which libspng reads as it decodes. Data that ends
// inside an image data chunk is served as a whole chunk of the bytes that
// are there (its length and CRC made to fit), and data that ends inside
// any other chunk as ending before it: libspng, which asks for whole chunks,
// then decodes as far as the data goes and stops at the end of the stream,
// where Chromium shows what the data reached.
class Stream {
  public:
    explicit Stream(Bytes bytes) : bytes_(bytes), end_(bytes.size()) {
        std::size_t at = 8;  // the signature
        while (at + 12 <= bytes.size()) {
            const std::size_t length = Read32(at);
            if (firstData_ == kNone && std::memcmp(bytes.data() + at + 4, "IDAT", 4) == 0) {
                firstData_ = at + 8;
            }
            if (length <= bytes.size() - at - 12) {
                at += 12 + length;
                continue;
            }
            break;
        }
        if (at + 12 > bytes.size() || Read32(at) > bytes.size() - at - 12) {
            // The chunk at `at` is not whole.
            end_ = at;
            if (at + 8 <= bytes.size() && std::memcmp(bytes.data() + at + 4, "IDAT", 4) == 0) {
                if (firstData_ == kNone) firstData_ = at + 8;
                const std::size_t data = bytes.size() - at - 8;
                lengthAt_ = at;
                Write32(length_, static_cast<std::uint32_t>(data));
                Write32(crc_, static_cast<std::uint32_t>(
                                  crc32(0, bytes.data() + at + 4, static_cast<uInt>(4 + data))));
                end_ = bytes.size();
                crcAdded_ = true;
            }
        }
    }

    static int Read(spng_ctx*, void* user, void* into, std::size_t length) {
        return static_cast<Stream*>(user)->Serve(static_cast<std::uint8_t*>(into), length);
    }

    // Whether libspng has read into the image data.
    bool ReachedImageData() const { return firstData_ != kNone && at_ > firstData_; }

  private:
    std::uint32_t Read32(std::size_t at) const {
        return static_cast<std::uint32_t>(bytes_[at]) << 24 |
               static_cast<std::uint32_t>(bytes_[at + 1]) << 16 |
               static_cast<std::uint32_t>(bytes_[at + 2]) << 8 | bytes_[at + 3];
    }
    static void Write32(std::array<std::uint8_t, 4>& to, std::uint32_t value) {
        for (std::size_t i = 0; i < 4; ++i)
            to[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }

    int Serve(std::uint8_t* into, std::size_t length) {
        const std::size_t size = end_ + (crcAdded_ ? 4 : 0);
        if (length > size - at_) return SPNG_IO_EOF;
        for (std::size_t i = 0; i < length;) {
            const std::size_t v = at_ + i;
            if (v >= end_) {
                into[i++] = crc_[v - end_];
            } else if (lengthAt_ != kNone && v >= lengthAt_ && v < lengthAt_ + 4) {
                into[i++] = length_[v - lengthAt_];
            } else {
                // A run of the file's own bytes, up to the patched length.
                std::size_t run = std::min(length - i, end_ - v);
                if (lengthAt_ != kNone && v < lengthAt_) run = std::min(run, lengthAt_ - v);
                std::memcpy(into + i, bytes_.data() + v, run);
                i += run;
            }
        }
        at_ += length;
        return 0;
    }

    static constexpr std::size_t kNone = SIZE_MAX;
    Bytes bytes_;
    std::size_t end_;
    std::size_t at_ = 0;
    std::size_t lengthAt_ = kNone;
    std::size_t firstData_ = kNone;  // where the first image data chunk's data starts
    std::array<std::uint8_t, 4> length_{};
    std::array<std::uint8_t, 4> crc_{};
    bool crcAdded_ = false;
};

// A decoder over the stream, its limits set, its header read; null when the
// header is not sound (or memory for the decoder cannot be had). The
// stream must outlive the decoder.
Context OpenPng(Stream& stream, spng_ihdr& header) {
    spng_alloc allocator = BudgetAllocator();
    Context context(spng_ctx_new2(&allocator, 0));
    if (!context) return nullptr;
    // As libpng by default: a damaged critical chunk is an error, a damaged
    // ancillary one is left out.
    if (spng_set_crc_action(context.get(), SPNG_CRC_ERROR, SPNG_CRC_DISCARD) != 0 ||
        spng_set_chunk_limits(context.get(), kChunkLimit, kChunkCache) != 0 ||
        spng_set_png_stream(context.get(), Stream::Read, &stream) != 0 ||
        spng_get_ihdr(context.get(), &header) != 0) {
        return nullptr;
    }
    return context;
}

// The columns that each pass of Adam7 interlacing fills: the first, and
// the step to the next.
constexpr std::array<std::int32_t, 7> kPassStart{0, 4, 0, 2, 0, 1, 0};
constexpr std::array<std::int32_t, 7> kPassStep{8, 8, 4, 4, 2, 2, 1};

}  // namespace

bool ReadPngSize(Bytes bytes, PictureSize& size) {
    spng_ihdr header{};
    Stream stream(bytes);
    if (!OpenPng(stream, header)) return false;
    // libspng refuses sizes past 2^31 - 1, so both fit.
    size = {static_cast<std::int32_t>(header.width), static_cast<std::int32_t>(header.height)};
    return true;
}

void StreamPng(Bytes bytes, const std::string& path, PixelSink& sink) {
    spng_ihdr header{};
    Stream stream(bytes);
    Context context = OpenPng(stream, header);
    if (!context) throw Fault::InvalidPicture(path);
    const PictureSize size{static_cast<std::int32_t>(header.width),
                           static_cast<std::int32_t>(header.height)};
    // The sink first: rows of the whole picture larger than the budget end
    // there, before libspng allocates anything of the picture's width.
    constexpr std::uint8_t kWhite[3] = {255, 255, 255};
    sink.Begin(size, kWhite);

    const bool wide = header.bit_depth == 16;
    const int format = wide ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
    const std::size_t channelBytes = wide ? 2 : 1;
    const auto width = static_cast<std::size_t>(size.width);
    const std::size_t lineBytes = 4 * channelBytes * width;
    const PictureMemory lineMemory(2 * lineBytes + 3 * width);
    std::vector<std::uint8_t> line(lineBytes);
    std::vector<std::uint8_t> narrow(wide ? 4 * width : 0);
    std::vector<std::uint8_t> bgr(3 * width);

    // Reads the chunks up to the image data, and into it as far as the first
    // line needs: a file that fails before its image data is no picture, one
    // whose data fails before the first line is white.
    if (spng_decode_image(context.get(), nullptr, 0, format,
                          SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE) != 0) {
        if (stream.ReachedImageData()) return;
        throw Fault::InvalidPicture(path);
    }
    for (;;) {
        spng_row_info info{};
        if (spng_get_row_info(context.get(), &info) != 0) break;
        const int status = spng_decode_row(context.get(), line.data(), line.size());
        // A line that did not decode whole is left white, and so is the rest.
        if (status != 0 && status != SPNG_EOI) break;
        if (info.row_num >= header.height) break;
        const std::uint8_t* rgba = line.data();
        if (wide) {
            // Host-endian 16-bit channels: the high byte of each.
            for (std::size_t i = 0; i < narrow.size(); ++i) {
                std::uint16_t value = 0;
                std::memcpy(&value, line.data() + 2 * i, 2);
                narrow[i] = static_cast<std::uint8_t>(value >> 8);
            }
            rgba = narrow.data();
        }
        const auto y = static_cast<std::int32_t>(info.row_num);
        const auto pass = static_cast<std::size_t>(std::clamp(info.pass, 0, 6));
        if (header.interlace_method == SPNG_INTERLACE_NONE || kPassStep[pass] == 1) {
            // A whole line: every line of a plain picture, the odd lines of
            // the last pass of an interlaced one.
            PutRgbaLine(rgba, size.width, bgr.data());
            sink.Pixels(y, 0, size.width, bgr.data());
        } else {
            // The pass's own columns, each given alone: the others are
            // another pass's.
            for (std::int32_t x = kPassStart[pass]; x < size.width; x += kPassStep[pass]) {
                const auto at = static_cast<std::size_t>(x);
                PutRgbaLine(rgba + 4 * at, 1, bgr.data() + 3 * at);
                sink.Pixels(y, x, 1, bgr.data() + 3 * at);
            }
        }
        if (status == SPNG_EOI) break;
    }
}

namespace {

// The whole picture from the stream: white rows, the lines written as they
// come.
class RowsSink final : public PixelSink {
  public:
    explicit RowsSink(const std::string& path) : path_(path) {}

    void Begin(PictureSize size, const std::uint8_t*) override { rows = WhiteRows(size, path_); }
    void Pixels(std::int32_t y, std::int32_t x, std::int32_t count,
                const std::uint8_t* bgr) override {
        std::memcpy(rows.ScanLine(rows.height - 1 - y) + 3 * static_cast<std::size_t>(x), bgr,
                    3 * static_cast<std::size_t>(count));
    }
    void Run(std::int32_t, std::int32_t, std::int32_t, const std::uint8_t*) override {}

    PixelRows rows;

  private:
    const std::string& path_;
};

}  // namespace

PixelRows DecodePng(Bytes bytes, const std::string& path) {
    RowsSink sink(path);
    StreamPng(bytes, path, sink);
    return std::move(sink.rows);
}

}  // namespace fotolane::picture::detail
