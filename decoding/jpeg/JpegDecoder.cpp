// JPEG decoding through libjpeg-turbo's TurboJPEG API (version 2, as Debian
// 12 ships it), straight into the bottom-up B, G, R rows; and the same
// decode line by line through libjpeg's own API, for the album's averaging.

#include <jconfig.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "decoding/jpeg/JpegDecoder.h"
#include "decoding/jpeg/JpegSegments.h"
#include "decoding/jpeg/LibjpegSession.h"
#include "decoding/jpeg/PackedCoefficients.h"
#include "platform/core/Fault.h"
#include "platform/core/MemoryBudget.h"

namespace fotolane::picture::detail {

namespace {

struct TurboJpegDestroyer {
    void operator()(void* handle) const noexcept { tjDestroy(handle); }
};
using TurboJpegHandle = std::unique_ptr<void, TurboJpegDestroyer>;

TurboJpegHandle NewDecompressor() {
    TurboJpegHandle handle(tjInitDecompress());
    if (!handle) throw Fault::OutOfMemory();
    return handle;
}

struct JpegHeader {
    PictureSize size{0, 0};
    int colorspace = -1;
};

// tjDecompressHeader3 fills the size and colour space only once libjpeg has
// read the whole header, and then may still return -1: for a warning (stray
// bytes between segments, which the decoder passes over too) or because the
// chroma sampling is none of TurboJPEG's named ones (4:1:0, 3x1, ...), which
// tjDecompress2 decodes all the same. So the filled-in fields, not the
// return value, tell whether the header was read. A datastream of tables
// alone gives a size of 0 and is no picture.
bool ReadHeader(tjhandle handle, Bytes bytes, JpegHeader& header) {
    int width = 0;
    int height = 0;
    int subsampling = -1;
    int colorspace = -1;
    tjDecompressHeader3(handle, bytes.data(), static_cast<unsigned long>(bytes.size()), &width,
                        &height, &subsampling, &colorspace);
    if (width <= 0 || height <= 0 || colorspace < 0) return false;
    header.size = {width, height};
    header.colorspace = colorspace;
    return true;
}

// libjpeg's own table of its messages (jerror.h); those named JWRN_ are the
// warnings, after which decoding goes on.
struct LibjpegMessage {
    std::string_view name;
    std::string_view text;
};
// The version and copyright texts come from the library's private
// jversion.h; the table needs them only as placeholders.
#define JVERSION ""
#define JCOPYRIGHT_SHORT ""
#define JMESSAGE(code, string) {#code, string},
constexpr LibjpegMessage kLibjpegMessages[] = {
#include <jerror.h>
};
#undef JMESSAGE
#undef JCOPYRIGHT_SHORT
#undef JVERSION

// Whether `message` is `format` with its printf conversions filled in: the
// literal pieces between the conversions appear in order, each conversion
// standing for at least one character.
bool FitsFormat(std::string_view message, std::string_view format) {
    std::size_t at = 0;
    for (bool first = true;; first = false) {
        const std::size_t percent = format.find('%');
        const std::string_view piece = format.substr(0, percent);
        if (first) {
            if (!message.starts_with(piece)) return false;
            if (percent == std::string_view::npos) return message.size() == piece.size();
            at = piece.size();
        } else if (percent == std::string_view::npos) {
            return message.size() >= at + 1 + piece.size() && message.ends_with(piece);
        } else {
            const std::size_t found = message.find(piece, at + 1);
            if (found == std::string_view::npos) return false;
            at = found + piece.size();
        }
        // Past the conversion: its flags and width, then its letter.
        std::size_t end = percent + 1;
        while (end < format.size() && std::strchr("0123456789.-+ #l", format[end]) != nullptr) {
            ++end;
        }
        format.remove_prefix(std::min(format.size(), end + 1));
    }
}

bool IsLibjpegWarning(std::string_view message) {
    for (const LibjpegMessage& known : kLibjpegMessages) {
        if (known.name.starts_with("JWRN_") && FitsFormat(message, known.text)) return true;
    }
    return false;
}

// A -1 from tjDecompress2 is either a warning (a truncated or slightly
// corrupt file: the rows hold the picture as far as it goes, as browsers
// show it) or an error that ended decoding (no picture). TurboJPEG 2's error
// code tells a warning from an error only when no warning came first: it
// stays "warning" through an error that follows one. The message is the last
// one libjpeg gave, so the error's when there was one: decoding ran to its
// end only when that message is one of libjpeg's warnings. True after a
// warning.
bool CheckDecodeResult(tjhandle handle, int result, const std::string& path) {
    if (result == 0) return false;
    if (tjGetErrorCode(handle) != TJERR_WARNING || !IsLibjpegWarning(tjGetErrorStr2(handle))) {
        throw Fault::InvalidPicture(path);
    }
    return true;
}

// Refuses a progressive file with an absurd number of scans, which would
// otherwise take minutes of work for a few kilobytes of input.
constexpr int kDecodeFlags = TJFLAG_BOTTOMUP | TJFLAG_LIMITSCANS;

// Each scan walks every block of its components, even a scan without data,
// so a file's work grows with its scans times its size, not with its data.
// Encoders write 10 to 20 scans; image tools refuse beyond a few hundred.
// Files with more scans than this are no picture; the limit is lower for
// large pictures, so that no file costs more than some 2^32 block visits.
constexpr int kMostScans = 300;
constexpr std::size_t kMostBlockVisits = std::size_t{1} << 32;

int MostScans(const JpegFrame& frame) {
    if (frame.blocks == 0) return kMostScans;
    const std::size_t scans = kMostBlockVisits / frame.blocks;
    return static_cast<int>(std::clamp<std::size_t>(scans, 32, kMostScans));
}

// The lines of a sequential picture that its data can reach: every block
// takes at least two bits, so a file that ends early can fill only so many
// rows of MCUs. Decoding stops there rather than making up the rest of a
// claimed area from nothing (a header of a huge picture without data);
// the lines below stay black, and untouched memory costs nothing.
std::int32_t LinesWithData(const JpegFrame& frame, const JpegScans& scans, std::size_t length) {
    if (!frame.sequentialHuffman || scans.count != 1 || frame.mcuRowBlocks == 0) {
        return frame.height;
    }
    const std::size_t data = length > scans.firstData ? length - scans.firstData : 0;
    const std::size_t mcuRows = 4 * data / frame.mcuRowBlocks + 2;
    const std::size_t lines = mcuRows * static_cast<std::size_t>(frame.mcuLines);
    return lines < static_cast<std::size_t>(frame.height) ? static_cast<std::int32_t>(lines)
                                                          : frame.height;
}

std::size_t RowBytes(PictureSize size) {
    return static_cast<std::size_t>(StrideOf24BitRow(size.width)) *
           static_cast<std::size_t>(size.height);
}

std::uint8_t Scale(unsigned value, unsigned black) {
    return static_cast<std::uint8_t>((value * black + 127) / 255);
}

// CMYK and YCCK files come from Adobe's programs, which store the inks
// inverted (0 is full ink); TurboJPEG gives them as stored, and converts to
// no RGB format itself. Like browsers, take every CMYK file as inverted and
// ignore its colour profile: red = C * K / 255, and so on. True when
// libjpeg warned.
bool DecodeCmyk(tjhandle handle, Bytes bytes, int flags, PixelRows& rows, const std::string& path) {
    const std::size_t width = static_cast<std::size_t>(rows.width);
    const std::size_t pitch = width * 4;
    const std::size_t height = static_cast<std::size_t>(rows.height);
    // tjDecompress2 takes the pitch as an int.
    if (pitch > static_cast<std::size_t>(INT32_MAX)) throw Fault::Overflow();
    auto inks = std::make_unique_for_overwrite<std::uint8_t[]>(pitch * height);
    const int result =
        tjDecompress2(handle, bytes.data(), static_cast<unsigned long>(bytes.size()), inks.get(),
                      rows.width, static_cast<int>(pitch), rows.height, TJPF_CMYK, flags);
    const bool warned = CheckDecodeResult(handle, result, path);
    for (std::int32_t s = 0; s < rows.height; ++s) {
        const std::uint8_t* cmyk = inks.get() + static_cast<std::size_t>(s) * pitch;
        std::uint8_t* bgr = rows.ScanLine(s);
        for (std::size_t x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
            const unsigned black = cmyk[3];
            bgr[0] = Scale(cmyk[2], black);
            bgr[1] = Scale(cmyk[1], black);
            bgr[2] = Scale(cmyk[0], black);
        }
    }
    return warned;
}

}  // namespace

bool ReadJpegSize(Bytes bytes, PictureSize& stored) {
    const TurboJpegHandle handle = NewDecompressor();
    JpegHeader header;
    if (!ReadHeader(handle.get(), bytes, header)) return false;
    stored = header.size;
    return true;
}

PixelRows DecodeJpeg(Bytes bytes, const std::string& path) {
    PixelRows rows;
    DecodeJpegInto(bytes, path, rows);
    return rows;
}

JpegCheck CheckJpeg(Bytes bytes, const std::string& path) {
    const TurboJpegHandle handle = NewDecompressor();
    JpegHeader header;
    if (!ReadHeader(handle.get(), bytes, header)) throw Fault::InvalidPicture(path);
    JpegCheck check;
    check.orientation = ReadExifOrientation(bytes);
    // Both the decoded and the turned rows must pass before either exists.
    CheckPictureSize(header.size, path);
    CheckPictureSize(OrientedSize(header.size, check.orientation), path);
    JpegFrame frame;
    if (!ReadJpegFrame(bytes, frame)) throw Fault::InvalidPicture(path);
    const JpegScans walk = WalkJpegScans(bytes, kMostScans);
    const int scans = walk.count;
    if (scans > MostScans(frame)) throw Fault::InvalidPicture(path);
    // The header was read whole, so the cut comes after it.
    check.bytes = bytes.first(walk.soundLength);
    check.size = header.size;
    check.cmyk = header.colorspace == TJCS_CMYK || header.colorspace == TJCS_YCCK;
    check.coefficientBytes = frame.blocks * 128;
    check.buffered = frame.progressive || scans > 1;
    check.linesWithData = frame.height == header.size.height
                              ? LinesWithData(frame, walk, check.bytes.size())
                              : header.size.height;
    check.heightAt = frame.heightAt;
    return check;
}

namespace {

// libjpeg's inverse DCT gives a block of 8 x 8 coefficients as N x N pixels,
// N of 1 to 8: TurboJPEG's scales up to 1, as it rounds them (TJSCALED).
constexpr int kWholeEighths = 8;

PictureSize ScaledSize(PictureSize stored, int eighths) {
    const tjscalingfactor scale{eighths, kWholeEighths};
    return {TJSCALED(stored.width, scale), TJSCALED(stored.height, scale)};
}

// The smallest scale at which the stored picture is at least `least`, both
// as stored; of scales that give the same size (a picture a few pixels
// wide), the largest, which tjDecompress2 takes for that size: it takes the
// largest of its factors whose size fits the size it is given.
int EighthsFor(PictureSize stored, PictureSize least) {
    int eighths = 1;
    while (eighths < kWholeEighths) {
        const PictureSize scaled = ScaledSize(stored, eighths);
        if (scaled.width >= least.width && scaled.height >= least.height) break;
        ++eighths;
    }
    const PictureSize size = ScaledSize(stored, eighths);
    while (eighths < kWholeEighths) {
        const PictureSize next = ScaledSize(stored, eighths + 1);
        if (next.width != size.width || next.height != size.height) break;
        ++eighths;
    }
    return eighths;
}

// Decodes the file that CheckJpeg passed at `eighths` / 8 (EighthsFor's,
// or whole) into `rows`, upright; true when libjpeg warned.
bool DecodeChecked(const JpegCheck& check, int eighths, const std::string& path, PixelRows& rows) {
    const Orientation orientation = check.orientation;
    Bytes bytes = check.bytes;
    const PictureSize size = ScaledSize(check.size, eighths);
    const TurboJpegHandle handle = NewDecompressor();

    // Besides the rows: libjpeg keeps every coefficient of a file of several
    // scans (64 of 2 bytes a block, at any scale), CMYK is decoded into a
    // buffer of its own (4 bytes a pixel), and a quarter turn makes new rows
    // once those are gone. All of it is drawn from the budget before any of
    // it exists.
    const bool cmyk = check.cmyk;
    const std::size_t during =
        (check.buffered ? check.coefficientBytes : 0) + (cmyk ? 4 * RowBytes(size) / 3 : 0);
    const std::size_t after = SwapsWidthAndHeight(orientation) ? RowBytes(size) : 0;
    PictureMemory working(std::max(during, after));

    // Rows decoded top-down and read bottom-up show the picture mirrored top
    // to bottom, for nothing: that is one mirror, and half of the half turn.
    int flags = kDecodeFlags;
    Orientation leftToDo = orientation;
    if (orientation == Orientation::HalfTurn || orientation == Orientation::MirroredTopToBottom) {
        flags &= ~TJFLAG_BOTTOMUP;
        leftToDo = orientation == Orientation::HalfTurn ? Orientation::MirroredLeftToRight
                                                        : Orientation::Upright;
    }

    // The stored lines that the data can reach are whole rows of MCUs
    // (multiples of 8 lines), so that they scale to whole lines.
    const bool shortened = !cmyk && check.linesWithData < check.size.height;
    // Fresh rows for a file that ends early: its lines below the data stay
    // black and untouched, in small pages, where a huge page read would be
    // made and cleared whole.
    if (shortened) rows = PixelRows();
    ReshapePixelRows(rows, size.width, size.height);
    bool warned = false;
    if (cmyk) {
        warned = DecodeCmyk(handle.get(), bytes, flags, rows, path);
    } else {
        // A file whose data cannot reach its last lines is decoded as the
        // picture of the lines it can reach (its height changed in a copy),
        // into the rows where those lines stand.
        std::vector<std::uint8_t> shorter;
        std::uint8_t* into = rows.bits.get();
        std::int32_t lines = rows.height;
        if (shortened) {
            const std::int32_t stored = check.linesWithData;
            lines = std::min(ScaledSize({check.size.width, stored}, eighths).height, rows.height);
            shorter.assign(bytes.begin(), bytes.end());
            shorter[check.heightAt] = static_cast<std::uint8_t>(stored >> 8);
            shorter[check.heightAt + 1] = static_cast<std::uint8_t>(stored & 0xFF);
            bytes = shorter;
            if ((flags & TJFLAG_BOTTOMUP) != 0) into = rows.ScanLine(rows.height - lines);
        }
        // The padded stride as the pitch: rows are padded to 4 bytes.
        const int result =
            tjDecompress2(handle.get(), bytes.data(), static_cast<unsigned long>(bytes.size()),
                          into, rows.width, rows.stride, lines, TJPF_BGR, flags);
        warned = CheckDecodeResult(handle.get(), result, path);
    }
    working = PictureMemory();
    if (leftToDo != Orientation::Upright) rows = ApplyOrientation(std::move(rows), leftToDo);
    return warned;
}

// libjpeg's lines of the file that `bytes` hold, at `eighths` / 8, each
// given to `sink` (CMYK's inks through `inks`, a line of 4 bytes a pixel,
// into `line`). The settings are tjDecompress2's for kDecodeFlags: it
// leaves libjpeg's accurate integer inverse DCT (JDCT_ISLOW, no
// TJFLAG_FASTDCT) and fancy upsampling (no TJFLAG_FASTUPSAMPLE) as they
// are, and the session refuses as many scans as TJFLAG_LIMITSCANS does, so
// that each line is the bytes tjDecompress2 gives for it. False when
// libjpeg failed. Nothing here may own anything: an error of libjpeg jumps
// back past this frame's destructors.
bool ReadLines(LibjpegSession& session, PackedCoefficients& coefficients, Bytes bytes, int eighths,
               bool cmyk, std::uint8_t* inks, std::uint8_t* line, std::int32_t lines,
               LineSink& sink) {
    if (setjmp(session.Jump()) != 0) return false;
    jpeg_decompress_struct& cinfo = session.Begin();
    coefficients.TakeOver(cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) return false;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    cinfo.scale_num = static_cast<unsigned>(eighths);
    cinfo.scale_denom = kWholeEighths;
    if (jpeg_start_decompress(&cinfo) == FALSE) return false;
    const std::int32_t width = static_cast<std::int32_t>(cinfo.output_width);
    if (static_cast<std::int32_t>(cinfo.output_height) != lines) return false;
    JSAMPROW row = cmyk ? inks : line;
    while (cinfo.output_scanline < cinfo.output_height) {
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) return false;
        if (cmyk) {
            const std::uint8_t* ink = inks;
            std::uint8_t* bgr = line;
            for (std::int32_t x = 0; x < width; ++x, ink += 4, bgr += 3) {
                const unsigned black = ink[3];
                bgr[0] = Scale(ink[2], black);
                bgr[1] = Scale(ink[1], black);
                bgr[2] = Scale(ink[0], black);
            }
        }
        sink.Line(line);
    }
    return jpeg_finish_decompress(&cinfo) != FALSE;
}

// DecodeChecked's lines given to `sink` as they are decoded, stored
// orientation; true when libjpeg warned.
bool StreamChecked(const JpegCheck& check, int eighths, const std::string& path, LineSink& sink) {
    const PictureSize size = ScaledSize(check.size, eighths);
    StreamedLines streamed;
    streamed.size = size;
    streamed.extentWidth = check.size.width * (eighths / 8.0);
    streamed.extentHeight = check.size.height * (eighths / 8.0);
    streamed.orientation = static_cast<std::int32_t>(check.orientation);
    // The sink takes its memory before the decode, as the album's target
    // is drawn before the rows were (a decode that takes what the budget has
    // left cannot starve it); libjpeg keeps every coefficient of a file of
    // several scans, drawn from the budget as for the whole decode (though
    // they take less here, packed between libjpeg's visits).
    sink.Begin(streamed);
    PictureMemory working(check.buffered ? check.coefficientBytes : 0);

    // A file whose data cannot reach its last lines is decoded as the
    // picture of the lines it can reach (its height changed in a copy, as
    // DecodeChecked does), the lines below black.
    Bytes bytes = check.bytes;
    std::vector<std::uint8_t> shorter;
    std::int32_t lines = size.height;
    if (!check.cmyk && check.linesWithData < check.size.height) {
        const std::int32_t stored = check.linesWithData;
        lines = std::min(ScaledSize({check.size.width, stored}, eighths).height, size.height);
        shorter.assign(bytes.begin(), bytes.end());
        shorter[check.heightAt] = static_cast<std::uint8_t>(stored >> 8);
        shorter[check.heightAt + 1] = static_cast<std::uint8_t>(stored & 0xFF);
        bytes = shorter;
    }
    const auto width = static_cast<std::size_t>(size.width);
    std::vector<std::uint8_t> inks(check.cmyk ? 4 * width : 0);
    // The line starts one byte past an aligned address: libjpeg-turbo's SIMD
    // colour conversion writes an aligned line with non-temporal stores,
    // past the cache, and the sink then reads every byte of it from memory.
    std::vector<std::uint8_t> line(3 * width + 1);
    // A file of several scans has its coefficients packed between libjpeg's
    // visits (the session's arrays, which must outlive it).
    PackedCoefficients coefficients;
    LibjpegSession session;
    {
        const SessionPicture picture(session, working);
        if (!ReadLines(session, coefficients, bytes, eighths, check.cmyk, inks.data(),
                       line.data() + 1, lines, sink)) {
            throw Fault::InvalidPicture(path);
        }
    }
    if (lines < size.height) sink.Blank(size.height - lines);
    return session.Warnings() != 0;
}

}  // namespace

void DecodeJpegInto(Bytes bytes, const std::string& path, PixelRows& rows) {
    DecodeChecked(CheckJpeg(bytes, path), kWholeEighths, path, rows);
}

void DecodeJpegSampledInto(const JpegCheck& check, const std::string& path,
                           const SampledPixels& sampled, PixelRows& rows) {
    const bool shortened = !check.cmyk && check.linesWithData < check.size.height;
    if (check.orientation == Orientation::Upright && !shortened) {
        DecodeChecked(check, kWholeEighths, path, rows);
        return;
    }
    // The lines that the data reaches, as stored: a copy whose header
    // claims no more of them (single-scan files alone are shortened, so no
    // coefficients are kept either way).
    JpegCheck stored = check;
    stored.orientation = Orientation::Upright;
    std::vector<std::uint8_t> shorter;
    if (shortened) {
        shorter.assign(check.bytes.begin(), check.bytes.end());
        shorter[check.heightAt] = static_cast<std::uint8_t>(check.linesWithData >> 8);
        shorter[check.heightAt + 1] = static_cast<std::uint8_t>(check.linesWithData & 0xFF);
        stored.bytes = shorter;
        stored.size.height = check.linesWithData;
    }
    PixelRows decoded;
    DecodeChecked(stored, kWholeEighths, path, decoded);

    const PictureSize shown = OrientedSize(check.size, check.orientation);
    ReshapePixelRows(rows, shown.width, shown.height);
    for (const std::int32_t v : sampled.rows) {
        std::uint8_t* line = rows.ScanLine(rows.height - 1 - v);
        for (const std::int32_t u : sampled.columns) {
            const StoredPixel pixel = StoredPixelOf(check.orientation, u, v, check.size);
            std::uint8_t* to = line + std::ptrdiff_t{3} * u;
            if (pixel.y < decoded.height) {
                std::memcpy(
                    to,
                    decoded.ScanLine(decoded.height - 1 - pixel.y) + std::ptrdiff_t{3} * pixel.x,
                    3);
            } else {
                std::memset(to, 0, 3);
            }
        }
    }
}

ScaledPicture DecodeJpegAtLeast(Bytes bytes, const std::string& path, PictureSize least) {
    const JpegCheck check = CheckJpeg(bytes, path);
    if (SwapsWidthAndHeight(check.orientation)) std::swap(least.width, least.height);
    ScaledPicture scaled;
    scaled.shown = OrientedSize(check.size, check.orientation);
    scaled.eighths = EighthsFor(check.size, least);
    // Damaged data that libjpeg warns about may hold coefficients far out
    // of range, which the whole decode clips pixel by pixel and a scaled one
    // only after it has blended them: such a file is decoded whole, the
    // picture that the whole decode gives. But for a whole picture beyond
    // the memory budget (a header that claims a huge picture, with no data
    // to match): the scaled one stands, as bounded as the thumbnail's decode.
    if (DecodeChecked(check, scaled.eighths, path, scaled.rows) &&
        scaled.eighths != kWholeEighths) {
        const std::int32_t eighths = scaled.eighths;
        scaled.rows = PixelRows();
        try {
            DecodeChecked(check, kWholeEighths, path, scaled.rows);
            scaled.eighths = kWholeEighths;
        } catch (const Fault& fault) {
            if (fault.Message() != Fault::OutOfMemory().Message()) throw;
            scaled.rows = PixelRows();
            DecodeChecked(check, eighths, path, scaled.rows);
        }
    }
    return scaled;
}

void StreamJpegAtLeast(Bytes bytes, const std::string& path, PictureSize least, LineSink& sink) {
    const JpegCheck check = CheckJpeg(bytes, path);
    if (SwapsWidthAndHeight(check.orientation)) std::swap(least.width, least.height);
    const int eighths = EighthsFor(check.size, least);
    // Damaged data is decoded again whole, as in DecodeJpegAtLeast.
    if (StreamChecked(check, eighths, path, sink) && eighths != kWholeEighths) {
        try {
            StreamChecked(check, kWholeEighths, path, sink);
        } catch (const Fault& fault) {
            if (fault.Message() != Fault::OutOfMemory().Message()) throw;
            StreamChecked(check, eighths, path, sink);
        }
    }
}

}  // namespace fotolane::picture::detail
