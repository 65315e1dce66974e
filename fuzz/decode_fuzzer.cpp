// Picture decoding of any bytes through the entries the program uses,
// picture::DecodePicture with the header-only size read
// picture::ReadPictureSize, and the album's DecodeAlbumPicture and
// ReadAlbumPictureSize (PNG, WebP, HEIC, AVIF besides). They take a path,
// so the bytes go into a file.
//
// Properties: the only exception either call raises is a Fault, and it names
// the file; decoded rows are well formed (positive size, the 24-bit stride,
// all of their memory there); when both calls succeed they give the same
// size; the thumbnailer's decode (picture::SamplingDecoder, reconstructing
// sparsely whenever the file allows it, however small), told a walk's
// columns and rows, gives those pixels exactly as the whole decode; the
// album's streamed decode of a bitmap or a GIF (picture::StreamPicture)
// gives every pixel at most once, and those given on the background are the
// whole decode; the album's scaled decode (picture::DecodePictureAtLeast)
// gives rows of the scale it tells, and a JPEG's lines streamed at the same
// sizes (picture::StreamJpegAtLeast), once turned as they tell, are those
// rows exactly; once the rows are gone, all memory drawn from the picture
// memory budget has been given back. The picture's metadata
// (picture::ReadPictureMetadata) raises no fault but one naming the file,
// and every field is well-formed UTF-8 without control characters, within
// its length; the copy without location (picture::CopyWithoutLocation) is a
// fault naming the file, or a file that carries no location and decodes to
// exactly the same picture (or fails to decode as the picture does). Memory
// and time are held by the fuzzing
// engine's limits, set by scripts/fuzz.sh to the program's own budget.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "decoding/AlbumDecoder.h"
#include "decoding/PictureDecoder.h"
#include "decoding/PictureMetadata.h"
#include "decoding/SamplingDecoder.h"
#include "fuzz/FuzzTarget.h"
#include "platform/core/Fault.h"
#include "platform/core/MemoryBudget.h"
#include "platform/core/PixelRows.h"
#include "platform/core/Utf8.h"

namespace fotolane::fuzz {
namespace {

// One file for the whole process, rewritten for every input.
const std::string& PicturePath() {
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string folder = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                             "/fotolane-decode-fuzz-XXXXXX";
        FUZZ_CHECK(::mkdtemp(folder.data()) != nullptr, folder);
        return folder + "/picture.jpg";
    }();
    return path;
}

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0, path);
    std::size_t written = 0;
    while (written < size) {
        const ssize_t got = ::write(fd, data + written, size - written);
        FUZZ_CHECK(got > 0, path);
        written += static_cast<std::size_t>(got);
    }
    FUZZ_CHECK(::close(fd) == 0, path);
}

void CheckNamed(const Fault& fault, const std::string& path, const char* call) {
    FUZZ_CHECK(fault.Path() == path,
               std::string(call) + ": a fault that does not name the file: " + fault.Description());
}

// A walk's positions along a side: every length / 23rd and the last.
std::vector<std::int32_t> WalkOver(std::int32_t length) {
    std::vector<std::int32_t> positions;
    for (std::int32_t at = 0; at < length; at += std::max(1, length / 23)) {
        positions.push_back(at);
    }
    if (positions.back() != length - 1) positions.push_back(length - 1);
    return positions;
}

void CheckSampledDecode(const std::string& path, const PixelRows& whole) {
    const picture::SampledPixels sampled{WalkOver(whole.width), WalkOver(whole.height)};
    picture::SamplingDecoder decoder(picture::SamplingDecoder::Sparse::WheneverPossible);
    PixelRows rows;
    try {
        const picture::PictureSize size = decoder.Open(path);
        FUZZ_CHECK(size.width == whole.width && size.height == whole.height,
                   std::to_string(size.width) + " x " + std::to_string(size.height));
        decoder.Decode(sampled, rows);
    } catch (const Fault& fault) {
        Broken("the thumbnailer's decode refuses a picture that decodes whole", fault.Description(),
               __FILE__, __LINE__);
    }
    for (const std::int32_t y : sampled.rows) {
        const std::uint8_t* expected = whole.ScanLine(whole.height - 1 - y);
        const std::uint8_t* got = rows.ScanLine(rows.height - 1 - y);
        for (const std::int32_t x : sampled.columns) {
            FUZZ_CHECK(std::memcmp(expected + 3 * x, got + 3 * x, 3) == 0,
                       "pixel " + std::to_string(x) + ", " + std::to_string(y));
        }
    }
}

// Paints what StreamPicture gives onto the background, and checks that no
// pixel comes twice or outside the picture.
class PaintingSink final : public picture::PixelSink {
  public:
    void Begin(picture::PictureSize size, const std::uint8_t* background) override {
        FUZZ_CHECK(!begun_, "Begin twice");
        begun_ = true;
        size_ = size;
        const std::size_t pixels =
            static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height);
        given_.assign(pixels, false);
        painted.resize(3 * pixels);
        for (std::size_t at = 0; at < pixels; ++at) std::memcpy(&painted[3 * at], background, 3);
    }
    void Pixels(std::int32_t y, std::int32_t x, std::int32_t count,
                const std::uint8_t* bgr) override {
        for (std::int32_t i = 0; i < count; ++i) Paint(y, x + i, bgr + 3 * i);
    }
    void Run(std::int32_t y, std::int32_t x, std::int32_t count, const std::uint8_t* bgr) override {
        for (std::int32_t i = 0; i < count; ++i) Paint(y, x + i, bgr);
    }

    // B, G, R from the top left pixel on, without padding.
    std::vector<std::uint8_t> painted;
    picture::PictureSize Size() const { return size_; }

  private:
    void Paint(std::int32_t y, std::int32_t x, const std::uint8_t* bgr) {
        FUZZ_CHECK(begun_ && y >= 0 && y < size_.height && x >= 0 && x < size_.width,
                   "pixel " + std::to_string(x) + ", " + std::to_string(y) + " outside");
        const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(size_.width) +
                               static_cast<std::size_t>(x);
        FUZZ_CHECK(!given_[at], "pixel " + std::to_string(x) + ", " + std::to_string(y) + " twice");
        given_[at] = true;
        std::memcpy(&painted[3 * at], bgr, 3);
    }

    bool begun_ = false;
    picture::PictureSize size_{0, 0};
    std::vector<bool> given_;
};

void CheckStreamedDecode(const std::string& path, const PixelRows& whole) {
    PaintingSink sink;
    try {
        if (!picture::StreamPicture(path, sink)) return;  // a JPEG
    } catch (const Fault& fault) {
        Broken("the streamed decode refuses a picture that decodes whole", fault.Description(),
               __FILE__, __LINE__);
    }
    const picture::PictureSize size = sink.Size();
    FUZZ_CHECK(size.width == whole.width && size.height == whole.height,
               std::to_string(size.width) + " x " + std::to_string(size.height));
    const auto lineBytes = 3 * static_cast<std::size_t>(whole.width);
    for (std::int32_t y = 0; y < whole.height; ++y) {
        FUZZ_CHECK(std::memcmp(&sink.painted[static_cast<std::size_t>(y) * lineBytes],
                               whole.ScanLine(whole.height - 1 - y), lineBytes) == 0,
                   "streamed line " + std::to_string(y));
    }
}

// A JPEG's streamed lines, kept as rows of their stored orientation: those
// of the last decode begun.
class CollectedLines final : public picture::LineSink {
  public:
    void Begin(const picture::StreamedLines& lines) override {
        lines_ = lines;
        rows_ = AllocatePixelRows(lines.size.width, lines.size.height);
        next_ = 0;
    }
    void Line(const std::uint8_t* bgr) override {
        FUZZ_CHECK(next_ < rows_.height, "line " + std::to_string(next_) + " beyond the lines");
        std::memcpy(rows_.ScanLine(rows_.height - 1 - next_), bgr,
                    3 * static_cast<std::size_t>(rows_.width));
        ++next_;
    }
    void Blank(std::int32_t count) override {
        FUZZ_CHECK(count >= 0 && count <= rows_.height - next_, std::to_string(count));
        next_ += count;  // the fresh rows are black
    }
    PixelRows Oriented() {
        FUZZ_CHECK(next_ == rows_.height, std::to_string(next_) + " lines streamed");
        return picture::ApplyStreamedOrientation(std::move(rows_), lines_);
    }

  private:
    picture::StreamedLines lines_;
    PixelRows rows_;
    std::int32_t next_ = 0;
};

// The album's scaled decode of a picture that decodes whole, to a quarter
// of its size or more: the rows of the scale it tells, the whole picture's
// size as shown, all of their memory there; of a JPEG, the same as its
// streamed lines.
void CheckScaledDecode(const std::string& path, const PixelRows& whole, bool jpeg) {
    picture::ScaledPicture scaled;
    try {
        scaled = picture::DecodePictureAtLeast(path, whole.width / 4 + 1, whole.height / 4 + 1);
    } catch (const Fault& fault) {
        Broken("the scaled decode refuses a picture that decodes whole", fault.Description(),
               __FILE__, __LINE__);
    }
    const PixelRows& rows = scaled.rows;
    const auto scale = [&](std::int32_t length) { return (length * scaled.eighths + 7) / 8; };
    FUZZ_CHECK(scaled.shown.width == whole.width && scaled.shown.height == whole.height &&
                   rows.width == scale(whole.width) && rows.height == scale(whole.height) &&
                   rows.stride == StrideOf24BitRow(rows.width),
               std::to_string(rows.width) + " x " + std::to_string(rows.height) + " at " +
                   std::to_string(scaled.eighths) + "/8");
    volatile std::uint8_t sink = rows.ScanLine(0)[0];
    sink = rows.ScanLine(rows.height - 1)[rows.stride - 1];
    (void)sink;
    if (!jpeg) return;
    CollectedLines lines;
    try {
        picture::StreamJpegAtLeast(path, whole.width / 4 + 1, whole.height / 4 + 1, lines);
    } catch (const Fault& fault) {
        Broken("the streamed decode refuses a picture that decodes whole", fault.Description(),
               __FILE__, __LINE__);
    }
    const PixelRows streamed = lines.Oriented();
    FUZZ_CHECK(streamed.width == rows.width && streamed.height == rows.height,
               std::to_string(streamed.width) + " x " + std::to_string(streamed.height));
    for (std::int32_t s = 0; s < rows.height; ++s) {
        FUZZ_CHECK(std::memcmp(streamed.ScanLine(s), rows.ScanLine(s),
                               3 * static_cast<std::size_t>(rows.width)) == 0,
                   "streamed line " + std::to_string(rows.height - 1 - s));
    }
}

void CheckField(const std::string& field, std::size_t most, const char* name) {
    FUZZ_CHECK(field.size() <= most, std::string(name) + " of " + std::to_string(field.size()));
    std::string again;
    for (std::size_t at = 0; at < field.size();) {
        const char32_t c = NextCharacter(field, at);
        FUZZ_CHECK(c >= 0x20 && (c < 0x7F || c >= 0xA0), std::string(name) + ": a control");
        AppendUtf8(again, c);
    }
    FUZZ_CHECK(again == field, std::string(name) + ": not well-formed UTF-8");
}

void CheckMetadata(const std::string& path) {
    try {
        const picture::PictureMetadata metadata = picture::ReadPictureMetadata(path);
        CheckField(metadata.dateTaken, 19, "date");
        CheckField(metadata.dateOffset, 6, "offset");
        CheckField(metadata.caption, 2000, "caption");
        CheckField(metadata.camera, 200, "camera");
        CheckField(metadata.lens, 200, "lens");
        for (const std::string* field :
             {&metadata.focalLength, &metadata.aperture, &metadata.exposure, &metadata.iso}) {
            CheckField(*field, 40, "setting");
        }
    } catch (const Fault& fault) {
        CheckNamed(fault, path, "ReadPictureMetadata");
    }
}

// The copy without location, and its decode beside the original's (`whole`
// when that one decoded; not `compare` when both decodes at once would pass
// the budget).
void CheckCopyWithoutLocation(const std::string& path, const PixelRows* whole, bool compare) {
    std::vector<std::uint8_t> copy;
    try {
        copy = picture::CopyWithoutLocation(path);
    } catch (const Fault& fault) {
        CheckNamed(fault, path, "CopyWithoutLocation");
        return;
    }
    const std::string copyPath = path + ".copy";
    WriteFile(copyPath, copy.data(), copy.size());
    try {
        FUZZ_CHECK(!picture::CarriesLocation(copyPath), "the copy carries a location");
    } catch (const Fault& fault) {
        Broken("the copy cannot be read", fault.Description(), __FILE__, __LINE__);
    }
    if (!compare) return;
    try {
        const PixelRows rows = picture::DecodePicture(copyPath);
        FUZZ_CHECK(whole != nullptr, "the copy decodes, the picture does not");
        FUZZ_CHECK(rows.width == whole->width && rows.height == whole->height,
                   std::to_string(rows.width) + " x " + std::to_string(rows.height));
        for (std::int32_t s = 0; s < rows.height; ++s) {
            FUZZ_CHECK(std::memcmp(rows.ScanLine(s), whole->ScanLine(s),
                                   3 * static_cast<std::size_t>(rows.width)) == 0,
                       "row " + std::to_string(s));
        }
    } catch (const Fault& fault) {
        FUZZ_CHECK(whole == nullptr,
                   std::string("the copy does not decode: ") + fault.Description());
    }
}

}  // namespace
}  // namespace fotolane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fotolane;
    using namespace fotolane::fuzz;
    const std::string& path = PicturePath();
    WriteFile(path, data, size);

    bool decoded = false;
    picture::PictureSize decodedSize{};
    try {
        const PixelRows rows = picture::DecodePicture(path);
        CheckCopyWithoutLocation(path, &rows, std::int64_t{rows.width} * rows.height <= 4'000'000);
        FUZZ_CHECK(rows.width > 0 && rows.height > 0 && rows.bits != nullptr,
                   std::to_string(rows.width) + " x " + std::to_string(rows.height));
        FUZZ_CHECK(rows.stride == StrideOf24BitRow(rows.width), std::to_string(rows.stride));
        // Touch the first and the last byte: the sanitizers (or the page
        // protection of a mapping) catch rows shorter than they claim.
        volatile std::uint8_t sink = rows.ScanLine(0)[0];
        sink = rows.ScanLine(rows.height - 1)[rows.stride - 1];
        (void)sink;
        decoded = true;
        decodedSize = {rows.width, rows.height};
        // Both decodes at once must stay within the budget.
        if (std::int64_t{rows.width} * rows.height <= 4'000'000) {
            CheckSampledDecode(path, rows);
            CheckStreamedDecode(path, rows);
            CheckScaledDecode(path, rows,
                              size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF);
        }
    } catch (const Fault& fault) {
        CheckNamed(fault, path, "DecodePicture");
        CheckCopyWithoutLocation(path, nullptr, true);
    }
    CheckMetadata(path);

    try {
        const picture::PictureSize header = picture::ReadPictureSize(path);
        if (decoded) {
            FUZZ_CHECK(header.width == decodedSize.width && header.height == decodedSize.height,
                       "header " + std::to_string(header.width) + " x " +
                           std::to_string(header.height) + ", decoded " +
                           std::to_string(decodedSize.width) + " x " +
                           std::to_string(decodedSize.height));
        }
    } catch (const Fault& fault) {
        CheckNamed(fault, path, "ReadPictureSize");
    }

    // The album's wider decode (PNG, WebP, HEIC, AVIF too): the same
    // properties. A picture the gallery decodes goes through the very same
    // decode there, so only the others are decoded again.
    if (!decoded) try {
            const PixelRows rows = picture::DecodeAlbumPicture(path);
            FUZZ_CHECK(rows.width > 0 && rows.height > 0 && rows.bits != nullptr,
                       std::to_string(rows.width) + " x " + std::to_string(rows.height));
            FUZZ_CHECK(rows.stride == StrideOf24BitRow(rows.width), std::to_string(rows.stride));
            volatile std::uint8_t sink = rows.ScanLine(0)[0];
            sink = rows.ScanLine(rows.height - 1)[rows.stride - 1];
            (void)sink;
            try {
                const picture::PictureSize header = picture::ReadAlbumPictureSize(path);
                FUZZ_CHECK(header.width == rows.width && header.height == rows.height,
                           "album header " + std::to_string(header.width) + " x " +
                               std::to_string(header.height));
            } catch (const Fault& fault) {
                Broken("the album's size read refuses a picture that decodes", fault.Description(),
                       __FILE__, __LINE__);
            }
        } catch (const Fault& fault) {
            CheckNamed(fault, path, "DecodeAlbumPicture");
        }

    // The whole budget can be drawn again: nothing of this picture kept any.
    try {
        const PictureMemory whole(PictureMemoryBudget());
    } catch (const Fault&) {
        Broken("picture memory not given back to the budget", {}, __FILE__, __LINE__);
    }
    return 0;
}
