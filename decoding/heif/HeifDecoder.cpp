// HEIC, HEIF and AVIF through libheif, which decodes HEVC with libde265 and
// AV1 with dav1d (or libaom). The primary image is decoded with libheif's
// transformations (rotation, mirroring, cropping) to interleaved R, G, B
// (and A when the image has alpha), 8 bits a channel, and laid over white
// into the rows.
//
// Memory: every image of the file (tiles, alpha, thumbnails) may be at most
// kLargestSide on a side, or libheif refuses the file before decoding; the
// primary image's rows and an estimate of what the decoders hold while they
// work are drawn from the picture memory budget before decoding starts.

#include "decoding/heif/HeifDecoder.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "decoding/AlbumFormats.h"
#include "platform/core/Fault.h"

namespace fotolane::picture::detail {

namespace {

// The longest side of any image in a file that libheif reads (its own
// default is 32768): 16384, the side of the largest picture Chromium shows
// as AVIF.
constexpr int kLargestSide = 16384;

// What the decode holds at once, a pixel, drawn before the rows are: the
// rows (3), libheif's
// interleaved picture (4) and its copy while turning (4), and the decoded
// planes, held both by the codec and by libheif (3 each at 8 bits in
// 4:4:4, 6 beyond 8 bits), the alpha plane (2).
constexpr std::size_t kBytesPerPixel = 3 + 4 + 4 + 2 * 3 + 2;
constexpr std::size_t kWideBytesPerPixel = kBytesPerPixel + 2 * 3;
constexpr std::size_t kFixedBytes = std::size_t{8} << 20;

struct ContextDeleter {
    void operator()(heif_context* context) const noexcept { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* handle) const noexcept { heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const noexcept { heif_image_release(image); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* options) const noexcept {
        heif_decoding_options_free(options);
    }
};

// The fault of a libheif error: its security limits stand for memory.
Fault FaultOf(const heif_error& error, const std::string& path) {
    if (error.code == heif_error_Memory_allocation_error) return Fault::OutOfMemory();
    return Fault::InvalidPicture(path);
}

struct Opened {
    std::unique_ptr<heif_context, ContextDeleter> context;
    std::unique_ptr<heif_image_handle, HandleDeleter> handle;
    PictureSize size{0, 0};
};

// The bytes must outlive the result: libheif reads them in place.
Opened Open(Bytes bytes, const std::string& path) {
    Opened opened;
    opened.context.reset(heif_context_alloc());
    if (!opened.context) throw Fault::OutOfMemory();
    heif_context_set_maximum_image_size_limit(opened.context.get(), kLargestSide);
    heif_error error = heif_context_read_from_memory_without_copy(
        opened.context.get(), bytes.data(), bytes.size(), nullptr);
    if (error.code != heif_error_Ok) throw FaultOf(error, path);
    heif_image_handle* handle = nullptr;
    error = heif_context_get_primary_image_handle(opened.context.get(), &handle);
    opened.handle.reset(handle);
    if (error.code != heif_error_Ok || !opened.handle) throw FaultOf(error, path);
    opened.size = {heif_image_handle_get_width(handle), heif_image_handle_get_height(handle)};
    CheckPictureSize(opened.size, path);
    return opened;
}

// The brands of the file-type box, the major one first; none when the
// bytes do not start with one.
std::vector<Bytes> Brands(Bytes bytes) {
    std::vector<Bytes> brands;
    if (bytes.size() < 16 || std::memcmp(bytes.data() + 4, "ftyp", 4) != 0) return brands;
    const std::size_t boxSize = std::size_t{bytes[0]} << 24 | std::size_t{bytes[1]} << 16 |
                                std::size_t{bytes[2]} << 8 | bytes[3];
    if (boxSize < 16 || boxSize > 4096) return brands;
    brands.push_back(bytes.subspan(8, 4));
    const std::size_t end = std::min(boxSize, bytes.size());
    for (std::size_t at = 16; at + 4 <= end; at += 4) brands.push_back(bytes.subspan(at, 4));
    return brands;
}

bool HasBrand(Bytes brand) {
    static constexpr const char* kBrands[] = {"heic", "heix", "heim", "heis", "hevc",
                                              "hevx", "mif1", "msf1", "avif", "avis"};
    return std::any_of(std::begin(kBrands), std::end(kBrands),
                       [&](const char* b) { return std::memcmp(brand.data(), b, 4) == 0; });
}

}  // namespace

bool IsHeifFileType(Bytes bytes) {
    // The file-type box: its size, "ftyp", the major brand, a version, and
    // the compatible brands to the box's end.
    const std::vector<Bytes> brands = Brands(bytes);
    return std::any_of(brands.begin(), brands.end(), HasBrand);
}

bool IsAvifFileType(Bytes bytes) {
    const std::vector<Bytes> brands = Brands(bytes);
    return std::any_of(brands.begin(), brands.end(), [](Bytes brand) {
        return std::memcmp(brand.data(), "avif", 4) == 0 ||
               std::memcmp(brand.data(), "avis", 4) == 0;
    });
}

HeifMetadata ReadHeifMetadata(Bytes bytes) {
    HeifMetadata metadata;
    const std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (!context) throw Fault::OutOfMemory();
    heif_context_set_maximum_image_size_limit(context.get(), kLargestSide);
    if (heif_context_read_from_memory_without_copy(context.get(), bytes.data(), bytes.size(),
                                                   nullptr)
            .code != heif_error_Ok) {
        metadata.readable = false;
        return metadata;
    }
    const int count = heif_context_get_number_of_top_level_images(context.get());
    std::vector<heif_item_id> images(static_cast<std::size_t>(std::max(0, count)));
    heif_context_get_list_of_top_level_image_IDs(context.get(), images.data(), count);
    for (const heif_item_id id : images) {
        heif_image_handle* opened = nullptr;
        if (heif_context_get_image_handle(context.get(), id, &opened).code != heif_error_Ok) {
            metadata.readable = false;
            continue;
        }
        const std::unique_ptr<heif_image_handle, HandleDeleter> handle(opened);
        const int blocks = heif_image_handle_get_number_of_metadata_blocks(handle.get(), nullptr);
        std::vector<heif_item_id> ids(static_cast<std::size_t>(std::max(0, blocks)));
        heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), nullptr, ids.data(), blocks);
        for (const heif_item_id block : ids) {
            const char* type = heif_image_handle_get_metadata_type(handle.get(), block);
            const char* content = heif_image_handle_get_metadata_content_type(handle.get(), block);
            const bool exif = type != nullptr && std::strcmp(type, "Exif") == 0;
            const bool xmp = content != nullptr && std::strcmp(content, "application/rdf+xml") == 0;
            if (!exif && !xmp) continue;
            std::vector<std::uint8_t> data(
                heif_image_handle_get_metadata_size(handle.get(), block));
            if (heif_image_handle_get_metadata(handle.get(), block, data.data()).code !=
                heif_error_Ok) {
                metadata.readable = false;
                continue;
            }
            if (xmp) {
                metadata.xmp.push_back(std::move(data));
                continue;
            }
            // ISO/IEC 23008-12 A.2.1: a 32-bit offset from after it to the
            // TIFF header.
            if (data.size() < 4) {
                metadata.readable = false;
                continue;
            }
            const std::size_t offset = std::size_t{data[0]} << 24 | std::size_t{data[1]} << 16 |
                                       std::size_t{data[2]} << 8 | data[3];
            if (offset > data.size() - 4) {
                metadata.readable = false;
                continue;
            }
            metadata.exif.emplace_back(data.begin() + static_cast<std::ptrdiff_t>(4 + offset),
                                       data.end());
        }
    }
    return metadata;
}

PictureSize ReadHeifSize(Bytes bytes, const std::string& path) {
    return Open(bytes, path).size;
}

PixelRows DecodeHeif(Bytes bytes, const std::string& path) {
    const Opened opened = Open(bytes, path);
    const PictureSize size = opened.size;
    heif_image_handle* handle = opened.handle.get();
    const bool wide = heif_image_handle_get_luma_bits_per_pixel(handle) > 8;
    const PictureMemory working =
        DrawWorkingMemory(size, wide ? kWideBytesPerPixel : kBytesPerPixel, kFixedBytes);
    PixelRows rows = WhiteRows(size, path);

    const std::unique_ptr<heif_decoding_options, OptionsDeleter> options(
        heif_decoding_options_alloc());
    if (!options) throw Fault::OutOfMemory();
    options->ignore_transformations = 0;
    options->convert_hdr_to_8bit = 1;
    const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    heif_image* decoded = nullptr;
    const heif_error error = heif_decode_image(
        handle, &decoded, heif_colorspace_RGB,
        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    const std::unique_ptr<heif_image, ImageDeleter> image(decoded);
    if (error.code != heif_error_Ok || !image) throw FaultOf(error, path);
    int stride = 0;
    const std::uint8_t* plane =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (plane == nullptr || stride <= 0 ||
        heif_image_get_width(image.get(), heif_channel_interleaved) != size.width ||
        heif_image_get_height(image.get(), heif_channel_interleaved) != size.height ||
        heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8) {
        throw Fault::InvalidPicture(path);
    }
    const bool premultiplied = alpha && heif_image_handle_is_premultiplied_alpha(handle) != 0;
    for (std::int32_t y = 0; y < size.height; ++y) {
        const std::uint8_t* line = plane + static_cast<std::ptrdiff_t>(y) * stride;
        std::uint8_t* bgr = rows.ScanLine(size.height - 1 - y);
        if (!alpha) {
            PutRgbLine(line, size.width, bgr);
        } else if (!premultiplied) {
            PutRgbaLine(line, size.width, bgr);
        } else {
            // Colours already weighed by their alpha: white adds what the
            // alpha leaves.
            for (std::int32_t x = 0; x < size.width; ++x, line += 4, bgr += 3) {
                const int rest = 255 - line[3];
                bgr[0] = static_cast<std::uint8_t>(std::min(255, line[2] + rest));
                bgr[1] = static_cast<std::uint8_t>(std::min(255, line[1] + rest));
                bgr[2] = static_cast<std::uint8_t>(std::min(255, line[0] + rest));
            }
        }
    }
    return rows;
}

}  // namespace fotolane::picture::detail
