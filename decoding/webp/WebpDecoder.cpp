// WebP through libwebp. A still picture is decoded by the incremental
// decoder into a buffer of ours, R, G, B (and A when it has alpha, the
// colours weighed by it as Chromium has libwebp give them), then laid over
// white into the rows: lossy data that ends early gives the lines
// it reached, as Chromium shows them, the rest white. An animation is its
// first frame on its canvas, through libwebpdemux's animation decoder
// (which needs the frame's data whole). The rows, the buffer and an
// estimate of libwebp's own memory (a lossless picture's colour cache and
// transforms, the alpha plane) are drawn from the picture memory budget
// before libwebp sees the data; decoding runs on the calling thread.

#include "decoding/webp/WebpDecoder.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "decoding/AlbumFormats.h"
#include "platform/core/Fault.h"

namespace fotolane::picture::detail {

namespace {

// libwebp's working memory a pixel, at most: a lossless picture keeps its
// pixels as 32-bit ARGB besides its output, and the alpha plane.
constexpr std::size_t kStillBytesPerPixel = 5;
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

PixelRows DecodeStill(Bytes bytes, const std::string& path, const WebPBitstreamFeatures& features) {
    const PictureSize size{features.width, features.height};
    CheckPictureSize(size, path);
    const bool alpha = features.has_alpha != 0;
    const std::size_t pixelBytes = alpha ? 4 : 3;
    const PictureMemory working =
        DrawWorkingMemory(size, kStillBytesPerPixel + pixelBytes, kFixedBytes);
    PixelRows rows = WhiteRows(size, path);
    const std::size_t lineBytes = pixelBytes * static_cast<std::size_t>(size.width);
    std::vector<std::uint8_t> decoded(lineBytes * static_cast<std::size_t>(size.height));

    WebPDecoderConfig config;
    if (WebPInitDecoderConfig(&config) == 0) throw Fault::InvalidPicture(path);
    config.output.colorspace = alpha ? MODE_rgbA : MODE_RGB;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = decoded.data();
    config.output.u.RGBA.stride = static_cast<int>(lineBytes);
    config.output.u.RGBA.size = decoded.size();
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
    if (width != size.width || height != size.height) throw Fault::InvalidPicture(path);
    for (std::int32_t y = 0; y < lines && y < size.height; ++y) {
        const std::uint8_t* from = decoded.data() + static_cast<std::size_t>(y) * lineBytes;
        std::uint8_t* to = rows.ScanLine(size.height - 1 - y);
        if (alpha) {
            PutPremultipliedLine(from, size.width, to);
        } else {
            PutRgbLine(from, size.width, to);
        }
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

PixelRows DecodeWebp(Bytes bytes, const std::string& path) {
    WebPBitstreamFeatures features;
    if (!ReadFeatures(bytes, features)) throw Fault::InvalidPicture(path);
    if (features.has_animation != 0) return DecodeFirstFrame(bytes, path, features);
    return DecodeStill(bytes, path, features);
}

}  // namespace fotolane::picture::detail
