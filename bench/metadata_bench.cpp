// The cost of reading a JPEG's metadata, beside the cost of the thumbnail it
// is read for: the EXIF orientation, which every JPEG thumbnail reads (twice:
// when the picture is opened and when it is decoded), and the thumbnailer's
// whole sampling decode of the same file at 150 pixels; the album's reads:
// all that ReadPictureMetadata gives, and the copy without location.
//
//   build/release/bench/metadata_bench [--benchmark_filter=...]
//
// Pictures: EXIF of several makers from the shared test pictures, and, where
// bench/setup-peers.sh installed them, Debian's wallpapers (one of which
// carries a 35 KB Sony maker note).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "decoding/PictureDecoding.h"
#include "decoding/PictureMetadata.h"
#include "decoding/SamplingDecoder.h"
#include "decoding/metadata/Exif.h"
#include "platform/files/FileSystem.h"

namespace fotolane::picture {
namespace {

struct BenchPicture {
    std::string name;
    std::string path;
};

std::vector<BenchPicture> Pictures() {
    const std::string testdata = FOTOLANE_TESTDATA_DIR;
    std::vector<BenchPicture> pictures = {
        {"Canon", testdata + "/pillow/jpeg/flower.jpg"},
        {"Xiaomi", testdata + "/pillow/jpeg/empty_gps_ifd.jpg"},
        {"FiveTags", testdata + "/exif-orientation-examples/Landscape_6.jpg"},
        {"NoExif", testdata + "/pillow/jpeg/hopper.jpg"},
        {"SonyWallpaper", "/usr/share/wallpapers/ColorfulCups/contents/images/2560x1600.jpg"},
        {"NoOrientationWallpaper",
         "/usr/share/wallpapers/FallenLeaf/contents/images/2560x1600.jpg"},
    };
    std::erase_if(pictures, [](const BenchPicture& picture) {
        return !std::filesystem::exists(picture.path);
    });
    return pictures;
}

void ReadOrientation(benchmark::State& state, const std::string& path) {
    const std::vector<std::uint8_t> bytes = ReadFileStart(path, 256 * 1024);
    for (auto _ : state) benchmark::DoNotOptimize(detail::ReadExifOrientation(bytes));
}

void ReadMetadata(benchmark::State& state, const std::string& path) {
    for (auto _ : state) benchmark::DoNotOptimize(ReadPictureMetadata(path).camera.size());
}

void CopyWithoutPlace(benchmark::State& state, const std::string& path) {
    for (auto _ : state) benchmark::DoNotOptimize(CopyWithoutLocation(path).size());
}

// A walk of 150 pixels along the longer side, as the thumbnailer samples.
SampledPixels WalkOf(PictureSize size) {
    const std::int32_t longer = std::max(size.width, size.height);
    const auto along = [longer](std::int32_t length) {
        std::vector<std::int32_t> positions;
        const std::int32_t count = std::max(1, length * 150 / longer);
        for (std::int32_t i = 0; i < count; ++i) positions.push_back(i * length / count);
        return positions;
    };
    return {along(size.width), along(size.height)};
}

void Thumbnail(benchmark::State& state, const std::string& path) {
    SamplingDecoder decoder;
    PixelRows rows;
    for (auto _ : state) {
        const SampledPixels sampled = WalkOf(decoder.Open(path));
        decoder.Decode(sampled, rows);
        benchmark::DoNotOptimize(rows.bits.get());
    }
}

}  // namespace
}  // namespace fotolane::picture

int main(int argc, char** argv) {
    using namespace fotolane::picture;
    for (const BenchPicture& picture : Pictures()) {
        benchmark::RegisterBenchmark(("ReadExifOrientation/" + picture.name).c_str(),
                                     ReadOrientation, picture.path)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("Thumbnail150/" + picture.name).c_str(), Thumbnail,
                                     picture.path)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("ReadPictureMetadata/" + picture.name).c_str(), ReadMetadata,
                                     picture.path)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("CopyWithoutLocation/" + picture.name).c_str(),
                                     CopyWithoutPlace, picture.path)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
