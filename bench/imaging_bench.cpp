#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "imaging/AreaResize.h"
#include "imaging/cDIBSection.h"
#include "imaging/mIntelJPEGLibrary.h"

namespace fotolane::imaging {
namespace {

// A photo-like buffer: smooth gradients with some noise, so that the
// encoder has the kind of work a real thumbnail gives it.
void FillPhotoLike(cDIBSection& dib) {
    RandomisePixels(dib.DIBSectionBitsPtr(), dib.Width(), dib.Height(), dib.BytesPerScanLine(),
                    false, 1);
    for (std::int32_t s = 0; s < dib.Height(); ++s) {
        std::uint8_t* line = dib.DIBSectionBitsPtr() + s * dib.BytesPerScanLine();
        for (std::int32_t c = 0; c < dib.Width(); ++c) {
            std::uint8_t* p = line + 3 * c;
            p[0] = static_cast<std::uint8_t>((c * 255) / dib.Width());
            p[1] = static_cast<std::uint8_t>((p[1] / 8 + (s * 200) / dib.Height()) & 0xFF);
            p[2] = static_cast<std::uint8_t>(p[2] / 4 + 128);
        }
    }
}

void BM_ResampleBilinear(benchmark::State& state) {
    cDIBSection source;
    if (!source.Create(1920, 1080)) {
        state.SkipWithError("no 1920 x 1080 buffer");
        return;
    }
    FillPhotoLike(source);
    for (auto _ : state) {
        auto target = source.Resample(360, 640);
        benchmark::DoNotOptimize(target->DIBSectionBitsPtr());
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["target_MP/s"] =
        benchmark::Counter(640.0 * 360.0 * iterations / 1e6, benchmark::Counter::kIsRate);
    state.counters["source_MP/s"] =
        benchmark::Counter(1920.0 * 1080.0 * iterations / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ResampleBilinear)->Unit(benchmark::kMillisecond);

// The album's shrinking by area averaging: a camera photo to its 600-pixel
// tile (a factor of 2), a large one to its 2048-pixel preview (1.95) and
// that preview to the tile (2.56).
void BM_ResizeByArea(benchmark::State& state) {
    const auto width = static_cast<std::int32_t>(state.range(0));
    const auto height = static_cast<std::int32_t>(state.range(1));
    const PixelRows rows = AllocatePixelRows(width, height);
    for (std::int32_t s = 0; s < height; ++s) {
        std::uint8_t* line = rows.ScanLine(s);
        for (std::int32_t v = 0; v < 3 * width; ++v) {
            line[v] = static_cast<std::uint8_t>((v * 7 + s * 3 + (v * s) % 13) & 0xFF);
        }
    }
    for (auto _ : state) {
        PixelRows target = ResizeByArea(rows, static_cast<std::int32_t>(state.range(2)),
                                        static_cast<std::int32_t>(state.range(3)));
        benchmark::DoNotOptimize(target.bits);
    }
    state.counters["source_MP/s"] =
        benchmark::Counter(width * height * static_cast<double>(state.iterations()) / 1e6,
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ResizeByArea)
    ->Args({1600, 1200, 800, 600})
    ->Args({4000, 3000, 2048, 1536})
    ->Args({2048, 1536, 800, 600})
    ->Unit(benchmark::kMillisecond);

// Encoding and the whole-file write (temporary file, rename) into a folder
// below the system's temporary folder, at the thumbnail maker's quality 80.
void BM_WriteJPEGFile(benchmark::State& state) {
    const auto width = static_cast<std::int32_t>(state.range(0));
    const auto height = static_cast<std::int32_t>(state.range(1));
    cDIBSection dib;
    if (!dib.Create(width, height)) {
        state.SkipWithError("no buffer");
        return;
    }
    FillPhotoLike(dib);
    std::string folder =
        (std::filesystem::temp_directory_path() / "fotolane-bench-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string path = folder + "/thumb.jpg";
    for (auto _ : state) {
        if (!mIntelJPEGLibrary::WriteJPEGFile(dib, path, 80)) {
            state.SkipWithError("write failed");
            break;
        }
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
    std::filesystem::remove_all(folder);
    state.counters["MP/s"] = benchmark::Counter(
        static_cast<double>(width) * height * static_cast<double>(state.iterations()) / 1e6,
        benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WriteJPEGFile)->Args({150, 112})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace fotolane::imaging

BENCHMARK_MAIN();
