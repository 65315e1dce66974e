#include "decoder_support.h"

#include <QImage>
#include <QTransform>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "tests/TempFolder.h"

namespace fotolane::testing {

MemoryJpegWriter::MemoryJpegWriter() {
    cinfo.err = jpeg_std_error(&errors_);
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &out_, &size_);
}

MemoryJpegWriter::~MemoryJpegWriter() {
    jpeg_destroy_compress(&cinfo);
    std::free(out_);
}

std::string TestData(const std::string& relative) {
    return std::string(FOTOLANE_TESTDATA_DIR) + "/" + relative;
}

std::vector<ManifestEntry> ReadManifest(const std::string& set) {
    std::ifstream in(TestData(set + "/MANIFEST.md"));
    std::vector<ManifestEntry> entries;
    std::string line;
    // Table rows: | File | Bytes | Variant | identify | Note |
    while (std::getline(in, line)) {
        if (line.rfind("| ", 0) != 0) continue;
        std::vector<std::string> cells;
        std::stringstream row(line.substr(1));
        std::string cell;
        while (std::getline(row, cell, '|')) {
            const auto first = cell.find_first_not_of(' ');
            const auto last = cell.find_last_not_of(' ');
            cells.push_back(first == std::string::npos ? "" : cell.substr(first, last - first + 1));
        }
        if (cells.size() < 5 || cells[0] == "File" || cells[0].rfind("---", 0) == 0) continue;
        entries.push_back({cells[0], cells[2], cells[4]});
    }
    return entries;
}

std::optional<ExpectedSize> SizeFromVariant(const std::string& variant) {
    // Browsers widen the screen to hold a first frame that passes it: the
    // manifest does not tell that size.
    if (variant.find("frame exceeds screen") != std::string::npos) return std::nullopt;
    std::smatch match;
    static const std::regex screen("screen (\\d+)x(\\d+)");
    static const std::regex plain("(?:^|, )(\\d+)x(\\d+)(?:,|$)");
    if (!std::regex_search(variant, match, screen) && !std::regex_search(variant, match, plain)) {
        return std::nullopt;
    }
    ExpectedSize size{std::stoi(match[1]), std::stoi(match[2])};
    static const std::regex orientation("Orientation=([5-8])");
    if (std::regex_search(variant, match, orientation)) std::swap(size.width, size.height);
    return size;
}

Rgb FromRows(const PixelRows& rows) {
    Rgb picture{rows.width, rows.height, {}};
    picture.bytes.resize(3 * static_cast<std::size_t>(rows.width) *
                         static_cast<std::size_t>(rows.height));
    std::uint8_t* to = picture.bytes.data();
    for (std::int32_t y = 0; y < rows.height; ++y) {
        const std::uint8_t* line = rows.ScanLine(rows.height - 1 - y);
        for (std::int32_t x = 0; x < rows.width; ++x, line += 3, to += 3) {
            to[0] = line[2];
            to[1] = line[1];
            to[2] = line[0];
        }
    }
    return picture;
}

bool PaddingIsZero(const PixelRows& rows) {
    for (std::int32_t s = 0; s < rows.height; ++s) {
        for (std::int32_t i = 3 * rows.width; i < rows.stride; ++i) {
            if (rows.ScanLine(s)[i] != 0) return false;
        }
    }
    return true;
}

namespace {

Rgb FromQImage(QImage image) {
    image.convertTo(QImage::Format_ARGB32);
    Rgb picture{image.width(), image.height(), {}};
    picture.bytes.resize(3 * static_cast<std::size_t>(image.width()) *
                         static_cast<std::size_t>(image.height()));
    std::uint8_t* to = picture.bytes.data();
    const auto onWhite = [](int c, int a) {
        return static_cast<std::uint8_t>((c * a + 255 * (255 - a) + 127) / 255);
    };
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x, to += 3) {
            const int a = qAlpha(line[x]);
            to[0] = onWhite(qRed(line[x]), a);
            to[1] = onWhite(qGreen(line[x]), a);
            to[2] = onWhite(qBlue(line[x]), a);
        }
    }
    return picture;
}

QImage ToQImage(const Rgb& picture) {
    QImage image(picture.width, picture.height, QImage::Format_RGB888);
    for (int y = 0; y < picture.height; ++y) {
        std::copy_n(picture.At(0, y), 3 * picture.width, image.scanLine(y));
    }
    return image;
}

}  // namespace

std::optional<Rgb> LoadWithQt(const std::string& path) {
    QImage image(QString::fromStdString(path));
    if (image.isNull()) return std::nullopt;
    return FromQImage(std::move(image));
}

std::optional<Rgb> DecodeWithDjpeg(const std::string& path) {
    TempFolder folder;
    const std::string out = folder / "decoded.ppm";
    const std::string command = "djpeg -rgb -pnm -outfile '" + out + "' '" + path + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) return std::nullopt;
    return LoadWithQt(out);
}

Rgb Oriented(const Rgb& picture, int orientation) {
    if (orientation < 2 || orientation > 8) return picture;
    QImage image = ToQImage(picture);
    switch (orientation) {
        case 2:
            image = image.mirrored(true, false);
            break;
        case 3:
            image = image.mirrored(true, true);
            break;
        case 4:
            image = image.mirrored(false, true);
            break;
        case 5:
            image = image.transformed(QTransform().rotate(90)).mirrored(true, false);
            break;
        case 6:
            image = image.transformed(QTransform().rotate(90));
            break;
        case 7:
            image = image.transformed(QTransform().rotate(270)).mirrored(true, false);
            break;
        case 8:
            image = image.transformed(QTransform().rotate(270));
            break;
        default:
            break;
    }
    return FromQImage(std::move(image));
}

int MaxDifference(const Rgb& a, const Rgb& b) {
    int most = 0;
    const std::size_t count = std::min(a.bytes.size(), b.bytes.size());
    for (std::size_t i = 0; i < count; ++i) {
        most = std::max(most, std::abs(int{a.bytes[i]} - int{b.bytes[i]}));
    }
    return most;
}

double MeanDifference(const Rgb& a, const Rgb& b) {
    std::uint64_t sum = 0;
    const std::size_t count = std::min(a.bytes.size(), b.bytes.size());
    for (std::size_t i = 0; i < count; ++i) {
        sum += static_cast<std::uint64_t>(std::abs(int{a.bytes[i]} - int{b.bytes[i]}));
    }
    return count == 0 ? 0 : static_cast<double>(sum) / static_cast<double>(count);
}

}  // namespace fotolane::testing
