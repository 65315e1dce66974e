// Windows bitmaps through Qt Gui's image reader, which needs no display and
// no application object.

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "platform/codecs/PictureDecoding.h"
#include "platform/core/Fault.h"
#include "platform/core/MemoryBudget.h"

namespace fotolane::picture::detail {

namespace {

// The largest picture within the 32-bit limits has 3 * width * height below
// 2^31 bytes as 24-bit rows; Qt holds it in at most 4 bytes a pixel, so no
// picture that could be decoded needs more than 2^31 / 3 * 4 bytes (2731 MiB).
// Qt's own default (128 MiB) would refuse big real pictures; our own size
// check before each read keeps out absurd ones.
constexpr int kQtAllocationLimitMiB = 2731;

void SetQtAllocationLimit() {
    // Qt's limit is one for the whole process: set it once, before the first
    // reader, whichever thread gets here first.
    static const bool done = [] {
        QImageReader::setAllocationLimit(kQtAllocationLimitMiB);
        return true;
    }();
    (void)done;
}

std::uint32_t ReadLittleEndian32(Bytes bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

void WriteLittleEndian32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Qt knows the bitmap headers of 12, 40, 108 (V4) and 124 (V5) bytes, not
// the 52- and 56-byte ones that Photoshop writes. Those are the 40-byte
// header followed by the colour masks (red, green, blue, and alpha for 56),
// that is the start of a V4 header: widened with zeros to 108 bytes (the V4
// colour-space fields, which Qt does not use), Qt reads them. The file header
// is 14 bytes: "BM", file size, 4 reserved, offset of the pixels.
std::vector<std::uint8_t> WidenedBitmapHeader(Bytes bytes) {
    constexpr std::size_t kFileHeader = 14;
    constexpr std::uint32_t kV4Header = 108;
    if (bytes.size() < kFileHeader + 4) return {};
    const std::uint32_t header = ReadLittleEndian32(bytes, kFileHeader);
    if (header != 52 && header != 56) return {};
    const std::size_t end = kFileHeader + header;
    if (bytes.size() < end) return {};
    const std::uint32_t added = kV4Header - header;

    std::vector<std::uint8_t> widened;
    widened.reserve(bytes.size() + added);
    widened.insert(widened.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(end));
    widened.insert(widened.end(), added, 0);
    widened.insert(widened.end(), bytes.begin() + static_cast<std::ptrdiff_t>(end), bytes.end());
    WriteLittleEndian32(widened, kFileHeader, kV4Header);
    WriteLittleEndian32(widened, 2, ReadLittleEndian32(bytes, 2) + added);
    const std::uint32_t pixels = ReadLittleEndian32(bytes, 10);
    if (pixels >= end) WriteLittleEndian32(widened, 10, pixels + added);
    return widened;
}

// What browsers make of a bitmap whose colour table or pixel data is
// damaged, where Qt judges otherwise: they refuse a table that claims more
// colours than the pixels can index, or that the file ends within; they show
// a picture of the header's size when the file ends before its pixels (Qt
// refuses it), transparent, so white here.
enum class BitmapData { kReadable, kRefused, kNoPixels };

BitmapData JudgeBitmap(Bytes bytes) {
    constexpr std::size_t kFileHeader = 14;
    if (bytes.size() < kFileHeader + 4) return BitmapData::kReadable;
    const std::uint32_t header = ReadLittleEndian32(bytes, kFileHeader);
    const std::size_t pixels = ReadLittleEndian32(bytes, 10);
    std::size_t table = kFileHeader + header;
    std::size_t entries = 0;
    std::size_t entrySize = 4;
    int bitsAPixel = 0;
    if (header == 12 && bytes.size() >= kFileHeader + 12) {
        // The OS/2 header: a full table of 3-byte entries.
        bitsAPixel = bytes[24] | bytes[25] << 8;
        entrySize = 3;
        if (bitsAPixel <= 8) entries = std::size_t{1} << bitsAPixel;
    } else if (header >= 40 && bytes.size() >= kFileHeader + 40) {
        bitsAPixel = bytes[28] | bytes[29] << 8;
        const std::uint32_t compression = ReadLittleEndian32(bytes, 30);
        const std::uint32_t used = ReadLittleEndian32(bytes, 46);
        if (bitsAPixel <= 8) {
            if (used > (1u << bitsAPixel)) return BitmapData::kRefused;
            entries = used != 0 ? used : std::size_t{1} << bitsAPixel;
        }
        // Bit-field masks after a 40-byte header.
        constexpr std::uint32_t kBitFields = 3;
        if (header == 40 && compression == kBitFields) table += 12;
    } else {
        return BitmapData::kReadable;
    }
    if (table + entries * entrySize > bytes.size()) return BitmapData::kRefused;
    return pixels >= bytes.size() ? BitmapData::kNoPixels : BitmapData::kReadable;
}

// A reader bound to the bytes (which must outlive it) that uses the one
// handler of the format told by the content, never a guess of Qt's own.
class BoundReader {
  public:
    BoundReader(Bytes bytes, PictureFormat format)
        : data_(QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                        static_cast<qsizetype>(bytes.size()))),
          buffer_(&data_) {
        SetQtAllocationLimit();
        buffer_.open(QIODevice::ReadOnly);
        reader_.setDevice(&buffer_);
        reader_.setFormat(format == PictureFormat::kGif ? "gif" : "bmp");
        reader_.setAutoDetectImageFormat(false);
    }
    QImageReader& reader() { return reader_; }

  private:
    QByteArray data_;
    QBuffer buffer_;
    QImageReader reader_;
};

// The size that Qt's reader will give, before it allocates anything: Qt's
// header size, whose height is negative for top-down rows.
PictureSize HeaderSize(QImageReader& reader) {
    const QSize size = reader.size();
    if (size.width() <= 0 || size.height() == 0 || size.height() == INT32_MIN) return {0, 0};
    return {size.width(), size.height() < 0 ? -size.height() : size.height()};
}

// Qt widens a colour channel of n bits (n < 8) of a 16- or 32-bit bitmap by
// multiplying it by 2^(8 - n), so that a 5-bit white comes out 248, not
// 255, and a 1-bit alpha 128 (half transparent) rather than opaque. A
// channel's table maps Qt's value to the value stretched over 0 to 255.
struct ChannelTables {
    std::array<std::uint8_t, 256> red, green, blue, alpha;
};

std::array<std::uint8_t, 256> StretchTable(std::uint32_t mask) {
    std::array<std::uint8_t, 256> table{};
    const int bits = std::popcount(mask);
    for (int value = 0; value < 256; ++value) {
        if (bits < 1 || bits > 7) {
            table[static_cast<std::size_t>(value)] = static_cast<std::uint8_t>(value);
            continue;
        }
        const int top = (1 << bits) - 1;
        const int level = value >> (8 - bits);
        table[static_cast<std::size_t>(value)] =
            static_cast<std::uint8_t>((level * 255 + top / 2) / top);
    }
    return table;
}

// The channel masks from the bitmap's headers: after the 14-byte file
// header, the info header's size (offset 14), bits a pixel (28),
// compression (30); bit-field masks red, green, blue at 54, 58, 62 (after a
// 40-byte header, or inside a longer one), alpha at 66 inside headers of 56
// bytes and more.
ChannelTables BitmapChannelTables(Bytes bytes) {
    std::uint32_t masks[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    if (bytes.size() >= 34) {
        const std::uint32_t header = ReadLittleEndian32(bytes, 14);
        const int bits_a_pixel = bytes[28] | bytes[29] << 8;
        const std::uint32_t compression = ReadLittleEndian32(bytes, 30);
        constexpr std::uint32_t kRgb = 0;
        constexpr std::uint32_t kBitFields = 3;
        if (header >= 40 && bits_a_pixel == 16 && compression == kRgb) {
            // The default 16-bit layout: 5 bits each for red, green, blue.
            masks[0] = masks[1] = masks[2] = 0x1F;
        } else if (header >= 40 && (bits_a_pixel == 16 || bits_a_pixel == 32) &&
                   compression == kBitFields && bytes.size() >= 66) {
            for (std::size_t i = 0; i < 3; ++i) masks[i] = ReadLittleEndian32(bytes, 54 + 4 * i);
            if (header >= 56 && bytes.size() >= 70) masks[3] = ReadLittleEndian32(bytes, 66);
        }
    }
    return {StretchTable(masks[0]), StretchTable(masks[1]), StretchTable(masks[2]),
            StretchTable(masks[3])};
}

ChannelTables IdentityTables() {
    return {StretchTable(0), StretchTable(0), StretchTable(0), StretchTable(0)};
}

std::uint8_t OnWhite(int channel, int alpha) {
    return static_cast<std::uint8_t>((channel * alpha + 255 * (255 - alpha) + 127) / 255);
}

// Qt's picture as bottom-up B, G, R rows; pixels that are not fully opaque
// are laid over white (the surface's background colour).
PixelRows ToPixelRows(QImage image, const ChannelTables& tables) {
    if (image.format() == QImage::Format_Indexed8) {
        // Straight from the colour table: a picture of 32-bit pixels first
        // would take more memory than the rows themselves. Indices beyond
        // the table are black.
        std::array<std::array<std::uint8_t, 3>, 256> colours{};
        const QList<QRgb> table = image.colorTable();
        for (qsizetype i = 0; i < table.size() && i < 256; ++i) {
            const QRgb c = table[i];
            const int a = qAlpha(c);
            colours[static_cast<std::size_t>(i)] = {OnWhite(qBlue(c), a), OnWhite(qGreen(c), a),
                                                    OnWhite(qRed(c), a)};
        }
        PixelRows rows = AllocatePixelRows(image.width(), image.height());
        for (std::int32_t y = 0; y < rows.height; ++y) {
            const uchar* from = image.constScanLine(y);
            std::uint8_t* to = rows.ScanLine(rows.height - 1 - y);
            for (std::int32_t x = 0; x < rows.width; ++x, to += 3) {
                std::memcpy(to, colours[from[x]].data(), 3);
            }
        }
        return rows;
    }
    const bool alpha = image.hasAlphaChannel();
    // Both formats hold one 0xAARRGGBB word a pixel; ARGB32 is not
    // premultiplied, so the colour is the colour.
    image.convertTo(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) throw Fault::OutOfMemory();
    PixelRows rows = AllocatePixelRows(image.width(), image.height());
    for (std::int32_t y = 0; y < rows.height; ++y) {
        const QRgb* from = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        std::uint8_t* to = rows.ScanLine(rows.height - 1 - y);
        for (std::int32_t x = 0; x < rows.width; ++x, to += 3) {
            const QRgb pixel = from[x];
            const int a = alpha ? tables.alpha[static_cast<std::size_t>(qAlpha(pixel))] : 255;
            to[0] = OnWhite(tables.blue[static_cast<std::size_t>(qBlue(pixel))], a);
            to[1] = OnWhite(tables.green[static_cast<std::size_t>(qGreen(pixel))], a);
            to[2] = OnWhite(tables.red[static_cast<std::size_t>(qRed(pixel))], a);
        }
    }
    return rows;
}

}  // namespace

PictureSize ReadQtPictureSize(Bytes bytes, PictureFormat format, const std::string& path) {
    std::vector<std::uint8_t> widened;
    if (format == PictureFormat::kBitmap) widened = WidenedBitmapHeader(bytes);
    if (!widened.empty()) bytes = widened;
    if (format == PictureFormat::kBitmap && JudgeBitmap(bytes) == BitmapData::kRefused) {
        throw Fault::InvalidPicture(path);
    }
    BoundReader bound(bytes, format);
    const PictureSize size = HeaderSize(bound.reader());
    CheckPictureSize(size, path);
    return size;
}

void DecodeWithQtInto(Bytes bytes, PictureFormat format, const std::string& path,
                      const SampledPixels* /*sampled*/, PixelRows& rows) {
    // Qt decodes the whole picture in any case; its rows are taken as they are.
    rows = PixelRows();
    rows = DecodeWithQt(bytes, format, path);
}

PixelRows DecodeWithQt(Bytes bytes, PictureFormat format, const std::string& path) {
    std::vector<std::uint8_t> copy = WidenedBitmapHeader(bytes);
    if (!copy.empty()) bytes = copy;
    BoundReader bound(bytes, format);
    QImageReader& reader = bound.reader();
    const PictureSize size = HeaderSize(reader);
    CheckPictureSize(size, path);

    const BitmapData data = JudgeBitmap(bytes);
    if (data == BitmapData::kRefused) throw Fault::InvalidPicture(path);
    if (data == BitmapData::kNoPixels) {
        PixelRows rows = AllocatePixelRows(size.width, size.height);
        const auto pixelBytes = static_cast<std::size_t>(3 * rows.width);
        for (std::int32_t s = 0; s < rows.height; ++s) {
            std::memset(rows.ScanLine(s), 0xFF, pixelBytes);
        }
        return rows;
    }

    PictureMemory working;
    QImage image;
    if (format == PictureFormat::kBitmap) {
        // Qt's bitmap reader stops at the end of a short file and leaves the
        // rows it did not reach as it found them. Handed a picture of the
        // right size and format, it reads into that one: zero-filled, the
        // missing rows are palette entry 0 or black, never stray memory.
        const QImage::Format qt_format = reader.imageFormat();
        if (qt_format == QImage::Format_Invalid) throw Fault::InvalidPicture(path);
        // Zeroed memory of our own, which costs nothing where Qt writes no
        // pixel (a run-length file of a few runs on a huge picture), and is
        // drawn from the picture memory budget.
        const qsizetype depth = QImage::toPixelFormat(qt_format).bitsPerPixel();
        const std::size_t line =
            (static_cast<std::size_t>(size.width) * static_cast<std::size_t>(depth) + 31) / 32 * 4;
        const std::size_t bytesOfImage = line * static_cast<std::size_t>(size.height);
        working = PictureMemory(bytesOfImage);
        auto* block = static_cast<uchar*>(std::calloc(bytesOfImage, 1));
        if (block == nullptr) throw Fault::OutOfMemory();
        image = QImage(
            block, size.width, size.height, static_cast<qsizetype>(line), qt_format,
            [](void* memory) { std::free(memory); }, block);
        if (image.isNull()) {
            std::free(block);
            throw Fault::OutOfMemory();
        }
    }
    if (!reader.read(&image) || image.isNull()) throw Fault::InvalidPicture(path);
    const ChannelTables tables =
        format == PictureFormat::kBitmap ? BitmapChannelTables(bytes) : IdentityTables();
    return ToPixelRows(std::move(image), tables);
}

}  // namespace fotolane::picture::detail
