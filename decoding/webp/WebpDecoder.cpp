// WebP through libwebp. A still picture is decoded by the incremental
// decoder, an opaque one straight into the rows as B, G, R, one with alpha
// into a buffer of ours, R, G, B, A (the colours weighed by the alpha as
// Chromium has libwebp give them), then laid over
// white into the rows: lossy data that ends early gives the lines
// it reached, as Chromium shows them, the rest white. A still picture
// wanted smaller is decoded at that size by libwebp's own scaling, which
// averages the lines as they are decoded: lossy, the picture is then never
// whole in memory (lossless, libwebp keeps its pixels whole anyway, for
// their references back). An animation is its first frame on its canvas,
// through libwebpdemux's animation decoder (which needs the frame's data
// whole). The rows, the buffer and an estimate of libwebp's own memory (a
// lossless picture's pixels, colour cache and transforms, the alpha plane)
// are drawn from the picture memory budget before libwebp sees the data;
// decoding runs on the calling thread.

#include "decoding/webp/WebpDecoder.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "decoding/AlbumFormats.h"
#include "platform/core/Fault.h"

namespace fotolane::picture::detail {

namespace {

// libwebp's working memory a pixel, at most: a lossless picture keeps its
// pixels as 32-bit ARGB besides its output, and the alpha plane.
constexpr std::size_t kLosslessBytesPerPixel = 4;
constexpr std::size_t kAlphaBytesPerPixel = 1;
constexpr std::size_t kStillBytesPerPixel = kLosslessBytesPerPixel + kAlphaBytesPerPixel;
// An animation's decoder holds two canvases of 4 bytes a pixel and the
// frame's decode.
constexpr std::size_t kAnimationBytesPerPixel = 8 + kStillBytesPerPixel;
constexpr std::size_t kFixedBytes = std::size_t{1} << 20;

// Colours that libwebp has weighed by their alpha (as Chromium has it do,
// with its rounding), laid over white: white adds what the alpha leaves.
void PutPremultipliedLine(const std::uint8_t* rgba, std::int32_t width, std::uint8_t* bgr) {
    for (std::int32_t x = 0; x < width; ++x, rgba += 4, bgr += 3) {
        const int rest = 255 - rgba[3];
        bgr[0] = static_cast<std::uint8_t>(std::min(255, rgba[2] + rest));
        bgr[1] = static_cast<std::uint8_t>(std::min(255, rgba[1] + rest));
        bgr[2] = static_cast<std::uint8_t>(std::min(255, rgba[0] + rest));
    }
}

struct IncrementalDeleter {
    void operator()(WebPIDecoder* decoder) const noexcept { WebPIDelete(decoder); }
};
struct AnimationDeleter {
    void operator()(WebPAnimDecoder* decoder) const noexcept { WebPAnimDecoderDelete(decoder); }
};

bool ReadFeatures(Bytes bytes, WebPBitstreamFeatures& features) {
    return WebPGetFeatures(bytes.data(), bytes.size(), &features) == VP8_STATUS_OK &&
           features.width > 0 && features.height > 0;
}

// The smallest size of the picture's shape that is at least `least` in
// both directions, and never larger than the picture.
PictureSize SizeAtLeast(PictureSize size, PictureSize least) {
    const double scale = std::max(static_cast<double>(least.width) / size.width,
                                  static_cast<double>(least.height) / size.height);
    if (scale >= 1) return size;
    const auto scaled = [&](std::int32_t length, std::int32_t wanted) {
        const auto at = static_cast<std::int32_t>(std::ceil(length * scale));
        return std::clamp(std::max(at, wanted), 1, length);
    };
    return {scaled(size.width, least.width), scaled(size.height, least.height)};
}

// The still picture at `out`, its size or smaller. An opaque one is
// decoded straight into the rows, as B, G, R from the bottom line up; one
// with alpha into a buffer of its colours weighed by the alpha, then laid
// over white.
PixelRows DecodeStill(Bytes bytes, const std::string& path, const WebPBitstreamFeatures& features,
                      PictureSize out) {
    const PictureSize size{features.width, features.height};
    CheckPictureSize(size, path);
    const bool alpha = features.has_alpha != 0;
    const bool whole = out.width == size.width && out.height == size.height;
    // libwebp's own memory follows the picture's size; scaled, only a
    // lossless picture's pixels and a lossy one's alpha plane do.
    const bool lossy = features.format == 1;
    const std::size_t keptWhole = whole || !lossy ? kStillBytesPerPixel
                                  : alpha         ? kAlphaBytesPerPixel
                                                  : 0;
    const PictureMemory working = DrawWorkingMemory(size, keptWhole, kFixedBytes);
    const PictureMemory buffer = DrawWorkingMemory(out, alpha ? 4 : 0, 0);
    PixelRows rows = WhiteRows(out, path);
    const std::size_t lineBytes = 4 * static_cast<std::size_t>(out.width);
    std::vector<std::uint8_t> weighed(alpha ? lineBytes * static_cast<std::size_t>(out.height) : 0);

    WebPDecoderConfig config;
    if (WebPInitDecoderConfig(&config) == 0) throw Fault::InvalidPicture(path);
    if (!whole) {
        config.options.use_scaling = 1;
        config.options.scaled_width = out.width;
        config.options.scaled_height = out.height;
    }
    config.output.is_external_memory = 1;
    if (alpha) {
        config.output.colorspace = MODE_rgbA;
        config.output.u.RGBA.rgba = weighed.data();
        config.output.u.RGBA.stride = static_cast<int>(lineBytes);
        config.output.u.RGBA.size = weighed.size();
    } else {
        // Bottom-up: libwebp writes the lines from the buffer's end.
        config.output.colorspace = MODE_BGR;
        config.options.flip = 1;
        config.output.u.RGBA.rgba = rows.bits.get();
        config.output.u.RGBA.stride = rows.stride;
        config.output.u.RGBA.size =
            static_cast<std::size_t>(rows.stride) * static_cast<std::size_t>(rows.height);
    }
    const std::unique_ptr<WebPIDecoder, IncrementalDeleter> decoder(
        WebPIDecode(nullptr, 0, &config));
    if (!decoder) throw Fault::OutOfMemory();
    const VP8StatusCode status = WebPIUpdate(decoder.get(), bytes.data(), bytes.size());
    if (status != VP8_STATUS_OK && status != VP8_STATUS_SUSPENDED) {
        throw Fault::InvalidPicture(path);
    }
    int lines = 0;
    int width = 0;
    int height = 0;
    int stride = 0;
    if (WebPIDecGetRGB(decoder.get(), &lines, &width, &height, &stride) == nullptr) {
        // The data ends before the first line.
        return rows;
    }
    if (width != out.width || height != out.height) throw Fault::InvalidPicture(path);
    if (!alpha) return rows;
    for (std::int32_t y = 0; y < lines && y < out.height; ++y) {
        PutPremultipliedLine(weighed.data() + static_cast<std::size_t>(y) * lineBytes, out.width,
                             rows.ScanLine(out.height - 1 - y));
    }
    return rows;
}

PixelRows DecodeFirstFrame(Bytes bytes, const std::string& path,
                           const WebPBitstreamFeatures& features) {
    const PictureSize size{features.width, features.height};
    CheckPictureSize(size, path);
    const PictureMemory working = DrawWorkingMemory(size, kAnimationBytesPerPixel, kFixedBytes);
    PixelRows rows = WhiteRows(size, path);
    WebPAnimDecoderOptions options;
    if (WebPAnimDecoderOptionsInit(&options) == 0) throw Fault::InvalidPicture(path);
    options.color_mode = MODE_rgbA;
    options.use_threads = 0;
    const WebPData data{bytes.data(), bytes.size()};
    const std::unique_ptr<WebPAnimDecoder, AnimationDeleter> decoder(
        WebPAnimDecoderNew(&data, &options));
    if (!decoder) throw Fault::InvalidPicture(path);
    WebPAnimInfo info;
    if (WebPAnimDecoderGetInfo(decoder.get(), &info) == 0 ||
        info.canvas_width != static_cast<std::uint32_t>(size.width) ||
        info.canvas_height != static_cast<std::uint32_t>(size.height)) {
        throw Fault::InvalidPicture(path);
    }
    std::uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) == 0 || canvas == nullptr) {
        throw Fault::InvalidPicture(path);
    }
    const std::size_t lineBytes = 4 * static_cast<std::size_t>(size.width);
    for (std::int32_t y = 0; y < size.height; ++y) {
        PutPremultipliedLine(canvas + static_cast<std::size_t>(y) * lineBytes, size.width,
                             rows.ScanLine(size.height - 1 - y));
    }
    return rows;
}

}  // namespace

bool ReadWebpSize(Bytes bytes, PictureSize& size) {
    WebPBitstreamFeatures features;
    if (!ReadFeatures(bytes, features)) return false;
    size = {features.width, features.height};
    return true;
}

PixelRows DecodeWebp(Bytes bytes, const std::string& path, std::optional<PictureSize> least) {
    WebPBitstreamFeatures features;
    if (!ReadFeatures(bytes, features)) throw Fault::InvalidPicture(path);
    if (features.has_animation != 0) return DecodeFirstFrame(bytes, path, features);
    const PictureSize size{features.width, features.height};
    return DecodeStill(bytes, path, features, least ? SizeAtLeast(size, *least) : size);
}

}  // namespace fotolane::picture::detail
