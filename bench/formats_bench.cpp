// The album's decode per format against libjpeg-turbo's on the same
// picture: a 1600 x 1200 photo-like test picture (smooth shading and fine
// noise) written as JPEG (quality 90, 4:2:0), PNG (RGB, 8 bits), WebP (lossy
// quality 80, and lossless), HEIC (quality 80) and AVIF (quality 80), each
// decoded whole by picture::DecodeAlbumPicture; the counter `MP/s` is the
// megapixels decoded a second of the benchmark's (wall) time.
//
//   build/release/bench/formats_bench --benchmark_repetitions=3
//   --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>
#include <libheif/heif.h>
#include <spng.h>
#include <turbojpeg.h>
#include <webp/encode.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "decoding/AlbumDecoder.h"

namespace {

constexpr int kWidth = 1600;
constexpr int kHeight = 1200;
using Bytes = std::vector<unsigned char>;

std::vector<unsigned char> Photo() {
    std::vector<unsigned char> rgb(std::size_t{3} * kWidth * kHeight);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-6, 6);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const int base[3] = {x * 200 / kWidth + 30, y * 180 / kHeight + 40,
                                 ((x + y) % 400) * 150 / 400 + 60};
            for (int c = 0; c < 3; ++c) {
                rgb[static_cast<std::size_t>(3 * (y * kWidth + x) + c)] =
                    static_cast<unsigned char>(std::clamp(base[c] + noise(random), 0, 255));
            }
        }
    }
    return rgb;
}

Bytes Jpeg(const std::vector<unsigned char>& rgb) {
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(handle, rgb.data(), kWidth, 0, kHeight, TJPF_RGB, &out, &size, TJSAMP_420, 90, 0);
    Bytes bytes(out, out + size);
    tjFree(out);
    tjDestroy(handle);
    return bytes;
}

Bytes Png(const std::vector<unsigned char>& rgb) {
    spng_ctx* context = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(context, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr header{};
    header.width = kWidth;
    header.height = kHeight;
    header.bit_depth = 8;
    header.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    spng_set_ihdr(context, &header);
    spng_encode_image(context, rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    std::size_t size = 0;
    int error = 0;
    auto* out = static_cast<unsigned char*>(spng_get_png_buffer(context, &size, &error));
    Bytes bytes(out, out + size);
    std::free(out);
    spng_ctx_free(context);
    return bytes;
}

Bytes Webp(const std::vector<unsigned char>& rgb, bool lossless) {
    unsigned char* out = nullptr;
    const std::size_t size =
        lossless ? WebPEncodeLosslessRGB(rgb.data(), kWidth, kHeight, 3 * kWidth, &out)
                 : WebPEncodeRGB(rgb.data(), kWidth, kHeight, 3 * kWidth, 80, &out);
    Bytes bytes(out, out + size);
    WebPFree(out);
    return bytes;
}

heif_error Append(heif_context*, const void* data, std::size_t size, void* userdata) {
    auto* out = static_cast<Bytes*>(userdata);
    out->insert(out->end(), static_cast<const unsigned char*>(data),
                static_cast<const unsigned char*>(data) + size);
    return {heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

Bytes Heif(const std::vector<unsigned char>& rgb, heif_compression_format format) {
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, format, &encoder);
    heif_encoder_set_lossy_quality(encoder, 80);
    if (format == heif_compression_AV1) heif_encoder_set_parameter(encoder, "speed", "8");
    heif_image* image = nullptr;
    heif_image_create(kWidth, kHeight, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, kWidth, kHeight, 8);
    int stride = 0;
    unsigned char* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < kHeight; ++y)
        std::copy_n(rgb.data() + 3 * kWidth * y, 3 * kWidth, plane + stride * y);
    heif_context_encode_image(context, image, encoder, nullptr, nullptr);
    Bytes bytes;
    heif_writer writer{1, Append};
    heif_context_write(context, &writer, &bytes);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(context);
    return bytes;
}

std::string Put(const std::string& name, const Bytes& bytes) {
    const std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                             "/fotolane-formats-bench-" + name;
    std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "wb"),
                                                            std::fclose);
    std::fwrite(bytes.data(), 1, bytes.size(), file.get());
    return path;
}

void Decode(benchmark::State& state, const std::string& path) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(fotolane::picture::DecodeAlbumPicture(path).bits.get());
    }
    state.counters["MP/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * (kWidth * kHeight / 1e6),
                           benchmark::Counter::kIsRate);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<unsigned char> rgb = Photo();
    const std::pair<const char*, Bytes> files[] = {
        {"jpeg.jpg", Jpeg(rgb)},
        {"png.png", Png(rgb)},
        {"webp-lossy.webp", Webp(rgb, false)},
        {"webp-lossless.webp", Webp(rgb, true)},
        {"heic.heic", Heif(rgb, heif_compression_HEVC)},
        {"avif.avif", Heif(rgb, heif_compression_AV1)},
    };
    for (const auto& [name, bytes] : files) {
        const std::string path = Put(name, bytes);
        benchmark::RegisterBenchmark((std::string("DecodeAlbumPicture/") + name + "/" +
                                      std::to_string(bytes.size() / 1024) + "KiB")
                                         .c_str(),
                                     [path](benchmark::State& state) { Decode(state, path); })
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
