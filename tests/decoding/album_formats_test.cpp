// The album's formats (PNG, WebP, HEIC, AVIF) on small files made here, one
// per variant: each decode against the pixels the file was made of (the
// lossless ones) or the library's own whole decode (the lossy ones), laid
// over white and turned as the file says; hostile headers against the
// memory budget; the gallery's decodes still refusing them.
//
// With FOTOLANE_FORMATS_DUMP=FOLDER the table's files and our decodes (as
// PPM) are also written there, for tests/browser/formats_test.mjs, which
// compares them with what Chromium shows.

#include <gtest/gtest.h>
#include <libheif/heif.h>
#include <webp/decode.h>
#include <webp/encode.h>
#include <webp/mux.h>
#include <zlib.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "decoder_support.h"
#include "decoding/AlbumDecoder.h"
#include "decoding/PictureDecoder.h"
#include "decoding/PictureMetadata.h"
#include "decoding/SamplingDecoder.h"
#include "platform/core/Fault.h"
#include "platform/core/MemoryBudget.h"
#include "tests/TempFolder.h"
#include "tests/TestSupport.h"

namespace fotolane::picture {
namespace {

using testing::FaultOf;
using testing::FromRows;
using testing::MaxDifference;
using testing::Oriented;
using testing::PaddingIsZero;
using testing::Rgb;
using testing::TempFolder;
using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------------------
// Pictures as R, G, B, A, top row first, and what they show on white

struct Rgba {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> bytes;  // 4 a pixel
    std::uint8_t* At(std::int32_t x, std::int32_t y) {
        return bytes.data() + 4 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                   static_cast<std::size_t>(x));
    }
};

Rgba MakeRgba(std::int32_t width, std::int32_t height, bool alpha, int seed) {
    Rgba picture{width, height,
                 std::vector<std::uint8_t>(4 * static_cast<std::size_t>(width * height))};
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint8_t* p = picture.At(x, y);
            p[0] = static_cast<std::uint8_t>(x * 255 / std::max(1, width - 1));
            p[1] = static_cast<std::uint8_t>(y * 255 / std::max(1, height - 1));
            p[2] = static_cast<std::uint8_t>(x + y + seed * 30);
            p[3] = static_cast<std::uint8_t>(alpha ? (x * 29 + y * 17) % 256 : 255);
        }
    }
    return picture;
}

std::uint8_t OnWhite(int channel, int alpha) {
    return static_cast<std::uint8_t>((channel * alpha + 255 * (255 - alpha) + 127) / 255);
}

Rgb ShownOnWhite(const Rgba& picture) {
    Rgb shown{picture.width, picture.height, {}};
    for (std::size_t i = 0; i < picture.bytes.size(); i += 4) {
        for (std::size_t c = 0; c < 3; ++c) {
            shown.bytes.push_back(OnWhite(picture.bytes[i + c], picture.bytes[i + 3]));
        }
    }
    return shown;
}

// ---------------------------------------------------------------------------
// PNG, written here chunk by chunk (every colour type, depth, interlacing
// and animation chunk that a test wants)

struct PngPicture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    int depth = 8;
    int colourType = 2;  // 0 gray, 2 RGB, 3 palette, 4 gray + alpha, 6 RGBA
    bool interlaced = false;
    std::vector<std::uint16_t> samples;  // channels a pixel, top row first
    std::vector<std::array<std::uint8_t, 3>> palette;
    std::vector<std::uint8_t> paletteAlpha;  // tRNS
    Bytes beforeData;                        // chunks before IDAT (gAMA, acTL, fcTL)
    Bytes afterData;                         // chunks after it (an animation's later frames)

    int Channels() const {
        switch (colourType) {
            case 2:
                return 3;
            case 4:
                return 2;
            case 6:
                return 4;
            default:
                return 1;
        }
    }
    std::uint16_t Sample(std::int32_t x, std::int32_t y, int c) const {
        return samples[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                        static_cast<std::size_t>(x)) *
                           static_cast<std::size_t>(Channels()) +
                       static_cast<std::size_t>(c)];
    }
};

void Put32(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutChunk(Bytes& out, const char* type, const Bytes& data) {
    Put32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    Put32(out, static_cast<std::uint32_t>(
                   crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

Bytes Deflate(const Bytes& raw) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes out(size);
    EXPECT_EQ(compress(out.data(), &size, raw.data(), static_cast<uLong>(raw.size())), Z_OK);
    out.resize(size);
    return out;
}

// The picture's lines, filter type 0, the samples packed big-endian.
Bytes RawLines(const PngPicture& png, std::int32_t x0, std::int32_t dx, std::int32_t y0,
               std::int32_t dy) {
    Bytes raw;
    for (std::int32_t y = y0; y < png.height; y += dy) {
        if (x0 >= png.width) break;
        raw.push_back(0);
        int bits = 0;
        std::uint32_t pending = 0;
        for (std::int32_t x = x0; x < png.width; x += dx) {
            for (int c = 0; c < png.Channels(); ++c) {
                const std::uint16_t v = png.Sample(x, y, c);
                if (png.depth == 16) {
                    raw.push_back(static_cast<std::uint8_t>(v >> 8));
                    raw.push_back(static_cast<std::uint8_t>(v));
                } else {
                    pending = pending << png.depth | v;
                    bits += png.depth;
                    if (bits == 8) {
                        raw.push_back(static_cast<std::uint8_t>(pending));
                        bits = 0;
                        pending = 0;
                    }
                }
            }
        }
        if (bits > 0) raw.push_back(static_cast<std::uint8_t>(pending << (8 - bits)));
    }
    return raw;
}

Bytes EncodePng(const PngPicture& png) {
    Bytes out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    Put32(header, static_cast<std::uint32_t>(png.width));
    Put32(header, static_cast<std::uint32_t>(png.height));
    header.insert(header.end(),
                  {static_cast<std::uint8_t>(png.depth), static_cast<std::uint8_t>(png.colourType),
                   0, 0, static_cast<std::uint8_t>(png.interlaced ? 1 : 0)});
    PutChunk(out, "IHDR", header);
    if (!png.palette.empty()) {
        Bytes plte;
        for (const auto& colour : png.palette)
            plte.insert(plte.end(), colour.begin(), colour.end());
        PutChunk(out, "PLTE", plte);
    }
    if (!png.paletteAlpha.empty()) PutChunk(out, "tRNS", png.paletteAlpha);
    out.insert(out.end(), png.beforeData.begin(), png.beforeData.end());
    Bytes raw;
    if (png.interlaced) {
        static constexpr int kPass[7][4] = {{0, 8, 0, 8}, {4, 8, 0, 8}, {0, 4, 4, 8}, {2, 4, 0, 4},
                                            {0, 2, 2, 4}, {1, 2, 0, 2}, {0, 1, 1, 2}};
        for (const auto& pass : kPass) {
            const Bytes lines = RawLines(png, pass[0], pass[1], pass[2], pass[3]);
            raw.insert(raw.end(), lines.begin(), lines.end());
        }
    } else {
        raw = RawLines(png, 0, 1, 0, 1);
    }
    PutChunk(out, "IDAT", Deflate(raw));
    out.insert(out.end(), png.afterData.begin(), png.afterData.end());
    PutChunk(out, "IEND", {});
    return out;
}

PngPicture MakePng(int colourType, int depth, bool interlaced = false) {
    PngPicture png{19, 13, depth, colourType, interlaced, {}, {}, {}, {}, {}};
    const std::uint32_t most = (1u << depth) - 1;
    for (std::int32_t y = 0; y < png.height; ++y) {
        for (std::int32_t x = 0; x < png.width; ++x) {
            for (int c = 0; c < png.Channels(); ++c) {
                // Every level at 8 bits and below; at 16, low bytes of every kind.
                const std::uint32_t v =
                    depth == 16 ? static_cast<std::uint32_t>(x * 3449 + y * 10007 + c * 22343)
                                : static_cast<std::uint32_t>(x * 11 + y * 7 + c * 5 + x * y);
                png.samples.push_back(static_cast<std::uint16_t>(v & most));
            }
        }
    }
    if (colourType == 3) {
        for (std::uint32_t i = 0; i <= most; ++i) {
            png.palette.push_back({static_cast<std::uint8_t>(i * 37),
                                   static_cast<std::uint8_t>(255 - i * 11),
                                   static_cast<std::uint8_t>(i * 91)});
        }
        for (std::uint32_t i = 0; i < std::min(most, 200u); ++i) {
            png.paletteAlpha.push_back(static_cast<std::uint8_t>(i * 53));
        }
    }
    return png;
}

// What Chromium shows of the PNG: samples of fewer bits scaled to 8, 16-bit
// ones by their high byte, a palette with its tRNS alphas, over white.
Rgb PngShown(const PngPicture& png) {
    Rgba picture{png.width, png.height, {}};
    const auto level = [&](std::uint16_t v) {
        if (png.depth == 16) return static_cast<std::uint8_t>(v >> 8);
        return static_cast<std::uint8_t>(v * 255 / ((1u << png.depth) - 1));
    };
    for (std::int32_t y = 0; y < png.height; ++y) {
        for (std::int32_t x = 0; x < png.width; ++x) {
            std::array<std::uint8_t, 4> p{};
            switch (png.colourType) {
                case 0:
                case 4:
                    p = {level(png.Sample(x, y, 0)), level(png.Sample(x, y, 0)),
                         level(png.Sample(x, y, 0)),
                         png.colourType == 4 ? level(png.Sample(x, y, 1)) : std::uint8_t{255}};
                    break;
                case 3: {
                    const std::uint16_t i = png.Sample(x, y, 0);
                    p = {png.palette[i][0], png.palette[i][1], png.palette[i][2],
                         i < png.paletteAlpha.size() ? png.paletteAlpha[i] : std::uint8_t{255}};
                    break;
                }
                default:
                    p = {level(png.Sample(x, y, 0)), level(png.Sample(x, y, 1)),
                         level(png.Sample(x, y, 2)),
                         png.colourType == 6 ? level(png.Sample(x, y, 3)) : std::uint8_t{255}};
            }
            picture.bytes.insert(picture.bytes.end(), p.begin(), p.end());
        }
    }
    return ShownOnWhite(picture);
}

// An animated PNG: its default image is the first frame; a second frame
// follows in fdAT.
PngPicture MakeAnimatedPng() {
    PngPicture png = MakePng(2, 8);
    const auto frameControl = [&](std::uint32_t sequence) {
        Bytes fctl;
        Put32(fctl, sequence);
        Put32(fctl, static_cast<std::uint32_t>(png.width));
        Put32(fctl, static_cast<std::uint32_t>(png.height));
        Put32(fctl, 0);
        Put32(fctl, 0);
        fctl.insert(fctl.end(), {0, 1, 0, 10, 0, 0});
        return fctl;
    };
    Bytes actl;
    Put32(actl, 2);
    Put32(actl, 0);
    PutChunk(png.beforeData, "acTL", actl);
    PutChunk(png.beforeData, "fcTL", frameControl(0));
    PutChunk(png.afterData, "fcTL", frameControl(1));
    PngPicture second = png;
    for (auto& sample : second.samples) sample = static_cast<std::uint16_t>(255 - sample);
    Bytes fdat;
    Put32(fdat, 2);
    const Bytes data = Deflate(RawLines(second, 0, 1, 0, 1));
    fdat.insert(fdat.end(), data.begin(), data.end());
    PutChunk(png.afterData, "fdAT", fdat);
    return png;
}

// ---------------------------------------------------------------------------
// WebP through libwebp's encoders

Bytes Taken(std::uint8_t* data, std::size_t size) {
    Bytes bytes(data, data + size);
    WebPFree(data);
    return bytes;
}

enum class WebpKind { Lossy, Lossless, LossyAlpha };

Bytes EncodeWebp(const Rgba& picture, WebpKind kind) {
    std::uint8_t* out = nullptr;
    const int stride = 4 * picture.width;
    std::size_t size = 0;
    switch (kind) {
        case WebpKind::Lossy: {
            Rgb rgb = ShownOnWhite(picture);
            size = WebPEncodeRGB(rgb.bytes.data(), picture.width, picture.height, 3 * picture.width,
                                 80, &out);
            break;
        }
        case WebpKind::Lossless:
            size = WebPEncodeLosslessRGBA(picture.bytes.data(), picture.width, picture.height,
                                          stride, &out);
            break;
        case WebpKind::LossyAlpha:
            size = WebPEncodeRGBA(picture.bytes.data(), picture.width, picture.height, stride, 80,
                                  &out);
            break;
    }
    EXPECT_GT(size, 0u);
    return Taken(out, size);
}

// Two lossless frames; the first is what is shown.
Bytes EncodeAnimatedWebp(const Rgba& first, const Rgba& second) {
    WebPAnimEncoderOptions options;
    EXPECT_TRUE(WebPAnimEncoderOptionsInit(&options));
    std::unique_ptr<WebPAnimEncoder, decltype(&WebPAnimEncoderDelete)> encoder(
        WebPAnimEncoderNew(first.width, first.height, &options), WebPAnimEncoderDelete);
    WebPConfig config;
    EXPECT_TRUE(WebPConfigInit(&config));
    config.lossless = 1;
    int timestamp = 0;
    for (const Rgba* frame : {&first, &second}) {
        WebPPicture picture;
        EXPECT_TRUE(WebPPictureInit(&picture));
        picture.use_argb = 1;
        picture.width = frame->width;
        picture.height = frame->height;
        EXPECT_TRUE(WebPPictureImportRGBA(&picture, frame->bytes.data(), 4 * frame->width));
        EXPECT_TRUE(WebPAnimEncoderAdd(encoder.get(), &picture, timestamp, &config));
        WebPPictureFree(&picture);
        timestamp += 100;
    }
    EXPECT_TRUE(WebPAnimEncoderAdd(encoder.get(), nullptr, timestamp, nullptr));
    WebPData data;
    WebPDataInit(&data);
    EXPECT_TRUE(WebPAnimEncoderAssemble(encoder.get(), &data));
    Bytes bytes(data.bytes, data.bytes + data.size);
    WebPDataClear(&data);
    return bytes;
}

// libwebp's own whole decode, over white.
Rgb WebpWhole(const Bytes& file) {
    int width = 0;
    int height = 0;
    std::uint8_t* rgba = WebPDecodeRGBA(file.data(), file.size(), &width, &height);
    EXPECT_NE(rgba, nullptr);
    Rgba picture{width, height, {}};
    if (rgba != nullptr) picture.bytes = Taken(rgba, 4 * static_cast<std::size_t>(width * height));
    return ShownOnWhite(picture);
}

// ---------------------------------------------------------------------------
// HEIC and AVIF through libheif's encoders (x265 and libaom)

heif_error Append(heif_context*, const void* data, std::size_t size, void* userdata) {
    auto* out = static_cast<Bytes*>(userdata);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
    return {heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

// `chroma`: the subsampling of the AV1 encoder, "420" or "444".
// `exif`: an EXIF block from its TIFF header on, the image's EXIF item.
Bytes EncodeHeif(const Rgba& picture, heif_compression_format format, bool alpha,
                 heif_orientation orientation, const char* chroma = "420", const Bytes& exif = {}) {
    std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(),
                                                                        heif_context_free);
    heif_encoder* encoder = nullptr;
    EXPECT_EQ(heif_context_get_encoder_for_format(context.get(), format, &encoder).code,
              heif_error_Ok);
    if (encoder == nullptr) return {};
    heif_encoder_set_lossy_quality(encoder, 90);
    if (format == heif_compression_AV1) {
        heif_encoder_set_parameter(encoder, "speed", "8");
        heif_encoder_set_parameter(encoder, "chroma", chroma);
    }
    heif_image* image = nullptr;
    heif_image_create(picture.width, picture.height, heif_colorspace_RGB,
                      alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, picture.width, picture.height, 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const std::size_t pixelBytes = alpha ? 4 : 3;
    for (std::int32_t y = 0; y < picture.height; ++y) {
        for (std::int32_t x = 0; x < picture.width; ++x) {
            std::memcpy(plane + y * stride + static_cast<std::ptrdiff_t>(pixelBytes) * x,
                        picture.bytes.data() + 4 * static_cast<std::size_t>(y * picture.width + x),
                        pixelBytes);
        }
    }
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = orientation;
    heif_image_handle* handle = nullptr;
    EXPECT_EQ(heif_context_encode_image(context.get(), image, encoder, options, &handle).code,
              heif_error_Ok);
    if (!exif.empty() && handle != nullptr) {
        EXPECT_EQ(heif_context_add_exif_metadata(context.get(), handle, exif.data(),
                                                 static_cast<int>(exif.size()))
                      .code,
                  heif_error_Ok);
    }
    heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    heif_image_release(image);
    heif_encoder_release(encoder);
    Bytes out;
    heif_writer writer{1, Append};
    EXPECT_EQ(heif_context_write(context.get(), &writer, &out).code, heif_error_Ok);
    return out;
}

// libheif's whole decode of the stored image, its transformations left
// out, over white: the test turns it itself.
Rgb HeifStored(const Bytes& file) {
    std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(),
                                                                        heif_context_free);
    EXPECT_EQ(
        heif_context_read_from_memory_without_copy(context.get(), file.data(), file.size(), nullptr)
            .code,
        heif_error_Ok);
    heif_image_handle* handle = nullptr;
    heif_context_get_primary_image_handle(context.get(), &handle);
    heif_decoding_options* options = heif_decoding_options_alloc();
    options->ignore_transformations = 1;
    heif_image* image = nullptr;
    heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, options);
    heif_decoding_options_free(options);
    Rgba picture{heif_image_get_width(image, heif_channel_interleaved),
                 heif_image_get_height(image, heif_channel_interleaved),
                 {}};
    int stride = 0;
    const std::uint8_t* plane =
        heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
    for (std::int32_t y = 0; y < picture.height; ++y) {
        picture.bytes.insert(picture.bytes.end(), plane + y * stride,
                             plane + y * stride + 4 * picture.width);
    }
    heif_image_release(image);
    heif_image_handle_release(handle);
    return ShownOnWhite(picture);
}

// ---------------------------------------------------------------------------
// The table

struct Sample {
    std::string name;  // the file's name, extension included
    Bytes file;
    Rgb expected;
    // The largest difference to `expected`.
    int tolerance = 0;
};

std::vector<Sample> MakeSamples() {
    std::vector<Sample> samples;
    const auto png = [&](const std::string& name, const PngPicture& picture) {
        samples.push_back({name + ".png", EncodePng(picture), PngShown(picture), 0});
    };
    for (int depth : {1, 2, 4, 8, 16}) png("png-gray" + std::to_string(depth), MakePng(0, depth));
    png("png-gray-alpha8", MakePng(4, 8));
    png("png-gray-alpha16", MakePng(4, 16));
    png("png-rgb8", MakePng(2, 8));
    png("png-rgb16", MakePng(2, 16));
    png("png-rgba8", MakePng(6, 8));
    png("png-rgba16", MakePng(6, 16));
    png("png-palette2-trns", MakePng(3, 2));
    png("png-palette8-trns", MakePng(3, 8));
    png("png-rgba8-interlaced", MakePng(6, 8, true));
    png("png-palette4-interlaced", MakePng(3, 4, true));
    png("png-animated", MakeAnimatedPng());

    const Rgba opaque = MakeRgba(23, 17, false, 0);
    const Rgba clear = MakeRgba(23, 17, true, 1);
    const Rgba second = MakeRgba(23, 17, true, 2);
    // Pixels with alpha are weighed by it as libwebp rounds for Chromium:
    // at most a level from the exact rounding (tests/browser/formats_test.mjs
    // checks them against Chromium's).
    const auto webp = [&](const std::string& name, Bytes file, bool lossless, const Rgba& source) {
        Rgb expected = lossless ? ShownOnWhite(source) : WebpWhole(file);
        const int tolerance = name == "webp-lossy" ? 0 : 1;
        samples.push_back({name + ".webp", std::move(file), std::move(expected), tolerance});
    };
    webp("webp-lossy", EncodeWebp(opaque, WebpKind::Lossy), false, opaque);
    webp("webp-lossless-alpha", EncodeWebp(clear, WebpKind::Lossless), true, clear);
    webp("webp-lossy-alpha", EncodeWebp(clear, WebpKind::LossyAlpha), false, clear);
    webp("webp-animated", EncodeAnimatedWebp(clear, second), true, clear);

    const Rgba photo = MakeRgba(64, 40, false, 3);
    const Rgba photoAlpha = MakeRgba(64, 40, true, 4);
    const auto heif = [&](const std::string& name, heif_compression_format format,
                          const Rgba& source, bool alpha, heif_orientation orientation,
                          const char* chroma = "420") {
        Bytes file = EncodeHeif(source, format, alpha, orientation, chroma);
        Rgb expected = Oriented(HeifStored(file), static_cast<int>(orientation));
        samples.push_back({name, std::move(file), std::move(expected), 0});
    };
    heif("heic-plain.heic", heif_compression_HEVC, photo, false, heif_orientation_normal);
    heif("heic-turned.heic", heif_compression_HEVC, photo, false, heif_orientation_rotate_90_cw);
    heif("heic-mirrored.heic", heif_compression_HEVC, photo, false,
         heif_orientation_rotate_90_cw_then_flip_horizontally);
    heif("avif-plain.avif", heif_compression_AV1, photo, false, heif_orientation_normal);
    heif("avif-444.avif", heif_compression_AV1, photo, false, heif_orientation_normal, "444");
    heif("avif-alpha.avif", heif_compression_AV1, photoAlpha, true, heif_orientation_normal);
    return samples;
}

const std::vector<Sample>& Samples() {
    static const std::vector<Sample> samples = MakeSamples();
    return samples;
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "wb"),
                                                            std::fclose);
    ASSERT_TRUE(file) << path;
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file.get()), bytes.size()) << path;
}

std::string Write(TempFolder& folder, const std::string& name, const Bytes& bytes) {
    folder.Write(name, std::string(bytes.begin(), bytes.end()));
    return folder / name;
}

TEST(AlbumFormats, EachVariantShowsItsPixelsUprightOnWhite) {
    TempFolder folder;
    const char* dump = std::getenv("FOTOLANE_FORMATS_DUMP");
    for (const Sample& sample : Samples()) {
        SCOPED_TRACE(sample.name);
        const std::string path = Write(folder, sample.name, sample.file);
        const PixelRows rows = DecodeAlbumPicture(path);
        const PictureSize size = ReadAlbumPictureSize(path);
        EXPECT_EQ(size.width, rows.width);
        EXPECT_EQ(size.height, rows.height);
        EXPECT_TRUE(PaddingIsZero(rows));
        const Rgb decoded = FromRows(rows);
        ASSERT_EQ(decoded.width, sample.expected.width);
        ASSERT_EQ(decoded.height, sample.expected.height);
        EXPECT_LE(MaxDifference(decoded, sample.expected), sample.tolerance);
        // The gallery's own decodes keep to JPEG, BMP and GIF, whatever the name.
        const std::string asJpeg = Write(folder, sample.name + ".jpg", sample.file);
        EXPECT_EQ(FaultOf([&] { DecodePicture(asJpeg); }), "Invalid picture: " + asJpeg);
        EXPECT_EQ(FaultOf([&] { ReadPictureSize(asJpeg); }), "Invalid picture: " + asJpeg);
        EXPECT_EQ(FaultOf([&] { SamplingDecoder().Open(asJpeg); }), "Invalid picture: " + asJpeg);
        if (dump != nullptr) {
            const std::string base = std::string(dump) + "/" + sample.name;
            WriteBytes(base, sample.file);
            std::string ppm = "P6\n" + std::to_string(decoded.width) + " " +
                              std::to_string(decoded.height) + "\n255\n";
            Bytes out(ppm.begin(), ppm.end());
            out.insert(out.end(), decoded.bytes.begin(), decoded.bytes.end());
            WriteBytes(base + ".ppm", out);
        }
    }
}

TEST(AlbumFormats, TheTurnedHeicStandsUpright) {
    // 64 x 40 stored, turned a quarter: the size as shown, from the header too.
    TempFolder folder;
    for (const Sample& sample : Samples()) {
        if (sample.name.rfind("heic-turned", 0) != 0 &&
            sample.name.rfind("heic-mirrored", 0) != 0) {
            continue;
        }
        const std::string path = Write(folder, sample.name, sample.file);
        const PictureSize size = ReadAlbumPictureSize(path);
        EXPECT_EQ(size.width, 40) << sample.name;
        EXPECT_EQ(size.height, 64) << sample.name;
    }
}

// A little-endian EXIF block: DateTimeOriginal 2021:05:06 07:08:09 and, with
// `location`, a GPS directory of one GPSLatitudeRef.
Bytes ExifBlock(bool location) {
    Bytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const auto u16 = [&tiff](std::uint32_t v) {
        tiff.insert(tiff.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)});
    };
    const auto u32 = [&u16](std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    const auto entry = [&](std::uint32_t tag, std::uint32_t type, std::uint32_t count,
                           std::uint32_t value) {
        u16(tag);
        u16(type);
        u32(count);
        u32(value);
    };
    // Each directory: a count, 12 bytes an entry, the next directory's offset.
    const std::uint32_t exifDirectory = 8 + 2 + 12 * (location ? 2 : 1) + 4;
    const std::uint32_t gpsDirectory = exifDirectory + 18;
    const std::uint32_t date = gpsDirectory + (location ? 18 : 0);
    u16(location ? 2 : 1);
    entry(0x8769, 4, 1, exifDirectory);  // ExifIFDPointer
    if (location) entry(0x8825, 4, 1, gpsDirectory);
    u32(0);
    u16(1);
    entry(0x9003, 2, 20, date);  // DateTimeOriginal, ASCII
    u32(0);
    if (location) {
        u16(1);
        entry(0x0001, 2, 2, 'N');  // GPSLatitudeRef "N", in place
        u32(0);
    }
    const std::string text = "2021:05:06 07:08:09";
    tiff.insert(tiff.end(), text.begin(), text.end());
    tiff.push_back(0);
    return tiff;
}

TEST(AlbumFormats, HeifMetadataGivesTheDateAndKeepsTheLocationUnpublished) {
    // 64 x 48 makes libheif store a grid of one tile whose header lies in an
    // idat box, where exiv2 0.27 finds no metadata item: libheif's list does.
    struct Case {
        const char* name;
        heif_compression_format format;
        std::int32_t width, height;
        bool location;
        bool browsersShow;
    };
    const Case cases[] = {
        {"gps.heic", heif_compression_HEVC, 64, 64, true, false},
        {"gps-grid.heic", heif_compression_HEVC, 64, 48, true, false},
        {"gps.avif", heif_compression_AV1, 64, 64, true, true},
        {"plain.heic", heif_compression_HEVC, 64, 64, false, false},
        {"plain.avif", heif_compression_AV1, 48, 64, false, true},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        const Bytes file = EncodeHeif(MakeRgba(c.width, c.height, false, 1), c.format, false,
                                      heif_orientation_normal, "420", ExifBlock(c.location));
        const std::string path = Write(folder, c.name, file);
        EXPECT_EQ(BrowsersShowPicture(path), c.browsersShow) << c.name;
        EXPECT_EQ(ReadPictureMetadata(path).dateTaken, "2021-05-06T07:08:09") << c.name;
        EXPECT_EQ(CarriesLocation(path), c.location) << c.name;
        if (c.location) {
            EXPECT_EQ(FaultOf([&] { CopyWithoutLocation(path); }),
                      "Cannot remove the location: " + path)
                << c.name;
        } else {
            EXPECT_EQ(CopyWithoutLocation(path), file) << c.name;
        }
    }
}

TEST(AlbumFormats, GalleryPicturesDecodeAsTheGalleryDecodesThem) {
    for (const char* file : {"libjpeg-turbo-testimages/testorig.jpg", "bmpsuite/g/rgb24.bmp",
                             "pillow/gif/hopper.gif"}) {
        const std::string path = testing::TestData(file);
        const Rgb album = FromRows(DecodeAlbumPicture(path));
        const Rgb gallery = FromRows(DecodePicture(path));
        EXPECT_EQ(album.bytes, gallery.bytes) << file;
        EXPECT_EQ(ReadAlbumPictureSize(path).width, ReadPictureSize(path).width) << file;
    }
}

TEST(AlbumFormats, DataThatEndsEarly) {
    // A PNG cut in its image data shows the lines it reached and white
    // below, as Chromium does; one cut before it is no picture. A lossy WebP
    // likewise; HEIF data must be whole.
    TempFolder folder;
    PngPicture png = MakePng(2, 8);
    png.height = 13;
    const Bytes whole = EncodePng(png);
    const std::string cut = Write(folder, "cut.png", Bytes(whole.begin(), whole.end() - 300));
    const Rgb decoded = FromRows(DecodeAlbumPicture(cut));
    const Rgb shown = PngShown(png);
    EXPECT_TRUE(
        std::equal(decoded.bytes.begin(), decoded.bytes.begin() + 3 * 19 * 2, shown.bytes.begin()));
    EXPECT_EQ(decoded.bytes.back(), 255);
    const std::string header =
        Write(folder, "header.png", Bytes(whole.begin(), whole.begin() + 40));
    EXPECT_EQ(FaultOf([&] { DecodeAlbumPicture(header); }), "Invalid picture: " + header);
    EXPECT_EQ(ReadAlbumPictureSize(header).width, 19);

    for (const Sample& sample : Samples()) {
        if (sample.name != "heic-plain.heic" && sample.name != "webp-lossy.webp") continue;
        const std::string path =
            Write(folder, "cut-" + sample.name,
                  Bytes(sample.file.begin(),
                        sample.file.begin() + static_cast<long>(sample.file.size() * 3 / 4)));
        if (sample.name == "heic-plain.heic") {
            EXPECT_EQ(FaultOf([&] { DecodeAlbumPicture(path); }), "Invalid picture: " + path);
        } else {
            EXPECT_EQ(FromRows(DecodeAlbumPicture(path)).width, sample.expected.width);
        }
    }
}

// ---------------------------------------------------------------------------
// Hostile headers: a fault naming the file, or a picture, within the budget

Bytes WithPngSize(std::uint32_t width, std::uint32_t height) {
    PngPicture png = MakePng(2, 8);
    Bytes file = EncodePng(png);
    Bytes header(file.begin() + 12, file.begin() + 29);  // "IHDR" and its data
    for (int i = 0; i < 4; ++i) {
        header[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(width >> (24 - 8 * i));
        header[8 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(height >> (24 - 8 * i));
    }
    std::copy(header.begin(), header.end(), file.begin() + 12);
    const auto crc =
        static_cast<std::uint32_t>(crc32(0, header.data(), static_cast<uInt>(header.size())));
    for (int i = 0; i < 4; ++i)
        file[29 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    return Bytes(file.begin(), file.begin() + 80);
}

// The file with every `box` box's two 32-bit fields after its version set:
// a HEIF's ispe (image size).
Bytes WithBoxSize(Bytes file, const char* box, std::uint32_t width, std::uint32_t height) {
    for (std::size_t at = 0; at + 16 <= file.size(); ++at) {
        if (std::memcmp(file.data() + at, box, 4) != 0) continue;
        for (int i = 0; i < 4; ++i) {
            file[at + 8 + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(width >> (24 - 8 * i));
            file[at + 12 + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(height >> (24 - 8 * i));
        }
    }
    return file;
}

const Bytes& SampleFile(const std::string& name) {
    for (const Sample& sample : Samples()) {
        if (sample.name == name) return sample.file;
    }
    static const Bytes none;
    ADD_FAILURE() << name;
    return none;
}

// The file without its image data: cut 16 bytes into its mdat box.
Bytes WithoutData(Bytes file) {
    for (std::size_t at = 0; at + 4 <= file.size(); ++at) {
        if (std::memcmp(file.data() + at, "mdat", 4) == 0) {
            file.resize(std::min(file.size(), at + 16));
            break;
        }
    }
    return file;
}

TEST(AlbumFormats, HostileHeadersCostNoMoreThanTheBudget) {
    const ScopedPictureMemoryBudget budget(std::size_t{1} << 30);
    TempFolder folder;
    // The VP8X header of an animation on a canvas of this size, then nothing.
    const auto webpCanvas = [](std::uint32_t width, std::uint32_t height) {
        Bytes file{'R', 'I', 'F', 'F', 30, 0, 0, 0, 'W',  'E', 'B', 'P',
                   'V', 'P', '8', 'X', 10, 0, 0, 0, 0x02, 0,   0,   0};
        for (std::uint32_t side : {width - 1, height - 1}) {
            for (int i = 0; i < 3; ++i) file.push_back(static_cast<std::uint8_t>(side >> (8 * i)));
        }
        const Bytes anim{'A', 'N', 'I', 'M', 6, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        file.insert(file.end(), anim.begin(), anim.end());
        return file;
    };
    // A lossless picture's header of 16384 x 16384, then nothing.
    const Bytes lossless{'R', 'I', 'F', 'F', 26, 0, 0, 0,    'W',  'E',  'B',  'P',  'V',
                         'P', '8', 'L', 13,  0,  0, 0, 0x2F, 0xFF, 0xFF, 0xFF, 0x1F, 0x00};
    Bytes hugeChunk = WithPngSize(19, 13);
    hugeChunk.resize(33);
    hugeChunk.insert(hugeChunk.end(), {0x7F, 0xFF, 0xFF, 0xF0, 't', 'E', 'X', 't', 'a', 'b'});
    Bytes hugeRiff = SampleFile("webp-lossy.webp");
    hugeRiff[4] = hugeRiff[5] = hugeRiff[6] = 0xFF;
    hugeRiff[16] = hugeRiff[17] = hugeRiff[18] = 0xFF;  // the first chunk's size too
    const Bytes& heic = SampleFile("heic-plain.heic");
    struct Case {
        const char* name;
        Bytes file;
        const char* fault;  // "no fault": a picture
    };
    const Case cases[] = {
        {"claims-30000.png", WithPngSize(30000, 30000), "Overflow"},
        {"claims-20000.png", WithPngSize(20000, 20000), "Out of memory"},
        {"claims-100000x1.png", WithPngSize(100000, 1), "no fault"},
        {"zero-width.png", WithPngSize(0, 13), "Invalid picture"},
        {"huge-chunk.png", hugeChunk, "Invalid picture"},
        {"claims-30000.webp", webpCanvas(30000, 30000), "Overflow"},
        {"claims-16000.webp", webpCanvas(16000, 16000), "Out of memory"},
        {"claims-16384-lossless.webp", lossless, "Out of memory"},
        {"huge-riff.webp", hugeRiff, "Invalid picture"},
        {"claims-30000.heic", WithoutData(WithBoxSize(heic, "ispe", 30000, 30000)),
         "Out of memory"},
        {"claims-16000.heic", WithBoxSize(heic, "ispe", 16000, 16000), "Out of memory"},
        {"claims-16000.avif", WithBoxSize(SampleFile("avif-plain.avif"), "ispe", 16000, 16000),
         "Out of memory"},
        {"zero-size.heic", WithBoxSize(heic, "ispe", 0, 0), "Invalid picture"},
        {"huge-box.heic", WithBoxSize(heic, "mdat", 0xFFFFFFF0, 0), "Invalid picture"},
    };
    for (const Case& c : cases) {
        const std::string path = Write(folder, c.name, c.file);
        const std::string expected =
            std::string(c.fault) == "no fault" ? c.fault : std::string(c.fault) + ": " + path;
        EXPECT_EQ(FaultOf([&] { DecodeAlbumPicture(path); }), expected) << c.name;
        // Every draw was given back.
        EXPECT_NO_THROW({ const PictureMemory all{PictureMemoryBudget()}; }) << c.name;
    }
}

}  // namespace
}  // namespace fotolane::picture
