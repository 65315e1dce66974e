#include "gallery/AlbumPage.h"

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

#include "gallery/AlbumTemplate.h"
#include "gallery/GalleryPage.h"
#include "gallery/GalleryRun.h"
#include "gallery/ModThumbnails.h"
#include "gallery/PictureNames.h"
#include "platform/core/Sha256.h"
#include "platform/core/Utf8.h"
#include "platform/files/FileSystem.h"

namespace fotolane::gallery {
namespace {

constexpr std::string_view kImageExtension = ".jpg";
// Of a long name's image name: "~" and the digest's first 16 bytes in hex.
constexpr std::size_t kDigestDigits = 32;
constexpr std::size_t kLongNameSuffix = 1 + kDigestDigits + kImageExtension.size();
// A long name's first bytes are cut back to whole UTF-8 characters, by at
// most three bytes.
constexpr std::size_t kLongestCut = 3;

bool IsLowerHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

std::string BaseName(const std::string& strName) {
    std::string path = strName;
    bool bExtensionFound = false;
    return ModThumbnails::SplitFileName(path, bExtensionFound);
}

std::string Number(std::int32_t value) {
    return std::to_string(value);
}

std::string SizeAttributes(PixelSize size) {
    return " width=\"" + Number(size.width) + "\" height=\"" + Number(size.height) + "\"";
}

// A picture's thumbnail in the grid, relative to the page, URL-escaped.
std::string ThumbnailUrl(const AlbumPicture& picture) {
    const std::string image = UrlPart(AlbumImageName(picture.name));
    if (picture.siteFiles) return std::string(kThumbnailFolder) + "/" + image;
    return std::string(kThumbnailFolder) + "/" + UrlPart(BaseName(picture.name)) + ".jpg";
}

// The srcset of a tile with its 1x and 2x images, or none without the 1x.
std::string DensitySources(const std::string& small, const std::string& large) {
    if (small.empty()) return {};
    return " srcset=\"" + small + " 1x, " + large + " 2x\"";
}

// A tile's shape for the rows of album.css: width / height to four places.
std::string AspectRatio(PixelSize size) {
    if (size.width <= 0 || size.height <= 0) return "1";
    const std::int64_t tenThousandths =
        (static_cast<std::int64_t>(size.width) * 10000 + size.height / 2) / size.height;
    std::string fraction = std::to_string(tenThousandths % 10000);
    fraction.insert(0, 4 - fraction.size(), '0');
    return std::to_string(tenThousandths / 10000) + "." + fraction;
}

std::string Navigation(const AlbumLinks& links) {
    if (!links.parent) return {};
    return "<nav aria-label=\"Albums\"><ul>\n<li><a href=\"../index.html\" rel=\"up\">Up</a></li>\n"
           "</ul></nav>\n";
}

// The albums below as tiles: each a plain link to its page around its cover,
// its name and how many pictures it holds (none said when it holds only
// albums). The cover is decorative: the link's name is its text.
std::string AlbumTiles(const AlbumLinks& links) {
    if (links.children.empty()) return {};
    std::string tiles = "<ul class=\"albums\" aria-label=\"Albums below\">\n";
    for (const AlbumChild& child : links.children) {
        tiles += "<li><a href=\"" + UrlPart(child.name) + "/index.html\">";
        if (child.cover) {
            tiles += "<img src=\"" +
                     (child.cover->smallUrl.empty() ? child.cover->url : child.cover->smallUrl) +
                     "\"" + DensitySources(child.cover->smallUrl, child.cover->url) +
                     SizeAttributes(child.cover->size) + " alt=\"\">";
        }
        tiles += "<span class=\"album-name\">" + AlbumText(child.name) + "</span>";
        if (child.pictures > 0) {
            tiles += "<span class=\"album-count\">" + std::to_string(child.pictures) +
                     (child.pictures == 1 ? " picture" : " pictures") + "</span>";
        }
        tiles += "</a></li>\n";
    }
    return tiles + "</ul>\n";
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// The digits of text[at, at + count), or -1 when any is no digit.
std::int64_t Digits(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) return -1;
    std::int64_t value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

}  // namespace

std::int64_t AlbumSortKey(const AlbumPicture& picture) {
    const std::string_view date = picture.dateTaken;
    const std::int64_t year = Digits(date, 0, 4), month = Digits(date, 5, 2),
                       day = Digits(date, 8, 2), hour = Digits(date, 11, 2),
                       minute = Digits(date, 14, 2), second = Digits(date, 17, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0) {
        return picture.modifiedNs / 1000000000;
    }
    std::int64_t key = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    // "+02:00": two hours ahead of UTC.
    const std::string_view offset = picture.dateOffset;
    const std::int64_t offsetHours = Digits(offset, 1, 2), offsetMinutes = Digits(offset, 4, 2);
    if (offset.size() == 6 && (offset[0] == '+' || offset[0] == '-') && offsetHours >= 0 &&
        offsetMinutes >= 0) {
        const std::int64_t seconds = offsetHours * 3600 + offsetMinutes * 60;
        key += offset[0] == '+' ? -seconds : seconds;
    }
    return key;
}

void SortAlbumPictures(std::vector<AlbumPicture>& pictures, AlbumSort sort) {
    std::vector<std::pair<std::int64_t, std::size_t>> order;
    order.reserve(pictures.size());
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        order.emplace_back(sort == AlbumSort::Date ? AlbumSortKey(pictures[i]) : 0, i);
    }
    std::stable_sort(order.begin(), order.end(), [&pictures](const auto& a, const auto& b) {
        if (a.first != b.first) return a.first < b.first;
        return NameComesBefore(pictures[a.second].name, pictures[b.second].name);
    });
    std::vector<AlbumPicture> sorted;
    sorted.reserve(pictures.size());
    for (const auto& [key, index] : order) sorted.push_back(std::move(pictures[index]));
    pictures = std::move(sorted);
}

std::optional<std::int64_t> EarliestSortKey(const std::vector<AlbumPicture>& pictures) {
    std::optional<std::int64_t> earliest;
    for (const AlbumPicture& picture : pictures) {
        const std::int64_t key = AlbumSortKey(picture);
        if (!earliest || key < *earliest) earliest = key;
    }
    return earliest;
}

void SortAlbumLinks(std::vector<AlbumChild>& children,
                    const std::map<std::string, std::int64_t>& earliest, AlbumSort sort) {
    std::stable_sort(
        children.begin(), children.end(),
        [](const AlbumChild& a, const AlbumChild& b) { return NameComesBefore(a.name, b.name); });
    if (sort != AlbumSort::Date) return;
    const auto keyOf = [&earliest](const AlbumChild& child) {
        const auto found = earliest.find(child.name);
        return found == earliest.end() ? std::numeric_limits<std::int64_t>::max() : found->second;
    };
    std::stable_sort(
        children.begin(), children.end(),
        [&keyOf](const AlbumChild& a, const AlbumChild& b) { return keyOf(a) < keyOf(b); });
}

std::optional<AlbumCover> AlbumCoverOf(std::span<const AlbumPicture> pictures,
                                       const AlbumLinks& links) {
    if (pictures.empty()) {
        if (links.children.empty()) return std::nullopt;
        return links.children.front().cover;
    }
    const AlbumPicture& first = pictures.front();
    const std::string image = UrlPart(AlbumImageName(first.name));
    const std::string small = std::string(kSmallThumbnailFolder) + "/" + image;
    if (first.largeThumbnail) {
        return AlbumCover{std::string(kLargeThumbnailFolder) + "/" + image, *first.largeThumbnail,
                          first.smallThumbnail ? small : std::string()};
    }
    if (first.smallThumbnail) return AlbumCover{small, *first.smallThumbnail, {}};
    if (first.hasThumbnail) return AlbumCover{ThumbnailUrl(first), first.thumbnail, {}};
    return std::nullopt;
}

AlbumChild AlbumChildOf(std::string name, const std::optional<AlbumCover>& cover,
                        std::int32_t pictures) {
    AlbumChild child{std::move(name), cover, pictures};
    if (child.cover) {
        const std::string folder = UrlPart(child.name) + "/";
        child.cover->url = folder + child.cover->url;
        if (!child.cover->smallUrl.empty()) child.cover->smallUrl = folder + child.cover->smallUrl;
    }
    return child;
}

std::string AlbumImageName(std::string_view pictureName) {
    if (pictureName.size() + kImageExtension.size() <= kLongestFileName) {
        return std::string(pictureName) + std::string(kImageExtension);
    }
    std::size_t kept = kLongestFileName - kLongNameSuffix;
    // Not inside a character: a UTF-8 continuation byte is 10xxxxxx.
    for (std::size_t cut = 0;
         cut < kLongestCut && (static_cast<unsigned char>(pictureName[kept]) & 0xC0) == 0x80;
         ++cut) {
        --kept;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    const std::array<std::uint8_t, 32> digest = Sha256(pictureName);
    std::string name(pictureName.substr(0, kept));
    name += '~';
    for (std::size_t i = 0; i < kDigestDigits / 2; ++i) {
        name += kHex[digest[i] >> 4];
        name += kHex[digest[i] & 0x0F];
    }
    return name + std::string(kImageExtension);
}

bool IsAlbumImageName(std::string_view fileName) {
    if (!fileName.ends_with(kImageExtension)) return false;
    const std::string_view stem = fileName.substr(0, fileName.size() - kImageExtension.size());
    if (IsAlbumPictureName(std::string(stem))) return true;
    // A long name's form, exactly as long as AlbumImageName makes it.
    if (fileName.size() > kLongestFileName || fileName.size() + kLongestCut < kLongestFileName) {
        return false;
    }
    const std::string_view digits = stem.substr(stem.size() - kDigestDigits);
    return stem[stem.size() - kDigestDigits - 1] == '~' &&
           std::all_of(digits.begin(), digits.end(), IsLowerHexDigit);
}

std::string AlbumText(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    ForEachCharacter(utf8, [&out](char32_t c) {
        switch (c) {
            case U'&':
                out += "&amp;";
                break;
            case U'<':
                out += "&lt;";
                break;
            case U'>':
                out += "&gt;";
                break;
            case U'"':
                out += "&quot;";
                break;
            case U'\'':
                out += "&#39;";
                break;
            default:
                AppendUtf8(out, c);
        }
    });
    return out;
}

std::string AlbumCaption(std::string_view text) {
    return OneLine(text, kAlbumCaptionBytes);
}

std::string ShortCaption(std::string_view caption) {
    std::size_t at = 0;
    for (std::size_t count = 0; at < caption.size() && count < kShortCaptionCharacters; ++count) {
        NextCharacter(caption, at);
    }
    if (at >= caption.size()) return std::string(caption);
    std::string_view kept = caption.substr(0, at);
    while (kept.ends_with(' ')) kept.remove_suffix(1);
    return std::string(kept) + "\xE2\x80\xA6";  // U+2026 HORIZONTAL ELLIPSIS
}

std::string ShownDate(std::string_view dateTaken) {
    // "YYYY-MM-DDTHH:MM:SS": the date, a blank, the hour and minute.
    if (dateTaken.size() < 16) return std::string(dateTaken);
    return std::string(dateTaken.substr(0, 10)) + " " + std::string(dateTaken.substr(11, 5));
}

std::string AlbumItem(const AlbumPicture& picture, std::size_t index) {
    const std::string base = BaseName(picture.name);
    const std::string key = UrlPart(picture.name);
    const std::string image = UrlPart(AlbumImageName(picture.name));
    const std::string thumbnail = ThumbnailUrl(picture);
    const std::string large = std::string(kLargeThumbnailFolder) + "/" + image;
    const std::string small = std::string(kSmallThumbnailFolder) + "/" + image;
    const std::string previewFile = std::string(kPreviewFolder) + "/" + image;
    // The largest image of the picture that is there.
    const std::string largest = picture.preview          ? previewFile
                                : picture.largeThumbnail ? large
                                : picture.smallThumbnail ? small
                                                         : thumbnail;
    // What a plain click opens: the picture, or in a site without it the
    // largest image of it. What the lightbox shows: the preview, else the
    // picture where browsers show it.
    const std::string name = picture.hasOriginal ? key : largest;
    const std::string preview = picture.preview        ? previewFile
                                : picture.browsersShow ? name
                                                       : largest;

    // The tile's images are the album's own at the row's height, 1x and 2x:
    // the gallery's own is far smaller than a row. The 2x one's size gives
    // the tile its shape (the rows of album.css) and the page its layout
    // before it loads.
    const PixelSize shown = picture.largeThumbnail   ? *picture.largeThumbnail
                            : picture.smallThumbnail ? *picture.smallThumbnail
                                                     : picture.thumbnail;
    std::string item = "<li style=\"--ar:" + AspectRatio(shown) + "\"><figure>\n";
    item += "<a href=\"" + name + "\" data-preview=\"" + preview + "\" data-key=\"" + key + "\"";
    const CameraDetails& details = picture.details;
    const std::array<std::pair<std::string_view, const std::string*>, 6> detailAttributes = {{
        {"camera", &details.camera},
        {"lens", &details.lens},
        {"focal-length", &details.focalLength},
        {"aperture", &details.aperture},
        {"exposure", &details.exposure},
        {"iso", &details.iso},
    }};
    for (const auto& [attribute, value] : detailAttributes) {
        if (value->empty()) continue;
        item += " data-" + std::string(attribute) + "=\"" + AlbumText(*value) + "\"";
    }
    item += ">";
    // Only files that are there: a screen takes the tile of its density
    // (srcset, the 1x one by default); without both the one there, without
    // either the gallery's thumbnail, and without that the picture itself.
    const std::string& source = picture.smallThumbnail   ? small
                                : picture.largeThumbnail ? large
                                : picture.hasThumbnail   ? thumbnail
                                : picture.browsersShow   ? name
                                                         : preview;
    item += "<img src=\"" + source + "\"";
    if (picture.smallThumbnail && picture.largeThumbnail) item += DensitySources(small, large);
    item += SizeAttributes(shown);
    if (index >= kEagerThumbnails) item += " loading=\"lazy\"";
    item += " alt=\"" + AlbumText(base) + "\"></a>\n";
    item += "<figcaption>" + AlbumText(picture.name);
    if (!picture.dateTaken.empty()) {
        item += " <time datetime=\"" + AlbumText(picture.dateTaken) + "\">" +
                AlbumText(ShownDate(picture.dateTaken)) + "</time>";
    }
    const std::string caption = AlbumCaption(picture.caption);
    if (!caption.empty()) {
        item += " <span class=\"caption\" data-caption=\"" + AlbumText(caption) + "\">" +
                AlbumText(ShortCaption(caption)) + "</span>";
    }
    item += "</figcaption>\n</figure></li>\n";
    return item;
}

std::string AlbumHtml(std::string_view title, std::span<const AlbumPicture> pictures,
                      const AlbumLinks& links, bool originals) {
    std::string items;
    for (std::size_t i = 0; i < pictures.size(); ++i) items += AlbumItem(pictures[i], i);
    const std::string text = AlbumText(title);
    const std::string navigation = Navigation(links);
    const std::string tiles = AlbumTiles(links);
    const std::array<TemplateValue, 7> values = {{
        {"ORIGINAL", originals ? "" : " hidden"},
        {"TITLE", text},
        {"NAVIGATION", navigation},
        {"ALBUMS", tiles},
        {"PICTURES", items},
        {"STYLE", AlbumStyle()},
        {"SCRIPT", AlbumScript()},
    }};
    return FillTemplate(AlbumPageTemplate(), values);
}

std::string FillTemplate(std::string_view text, std::span<const TemplateValue> values) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t at = text.find('@', pos);
        if (at == std::string_view::npos) break;
        out += text.substr(pos, at - pos);
        const std::size_t end = text.find('@', at + 1);
        const TemplateValue* found = nullptr;
        if (end != std::string_view::npos) {
            for (const TemplateValue& value : values) {
                if (value.name == text.substr(at + 1, end - at - 1)) found = &value;
            }
        }
        if (found != nullptr) {
            out += found->value;
            pos = end + 1;
        } else {
            out += '@';
            pos = at + 1;
        }
    }
    if (pos < text.size()) out += text.substr(pos);
    return out;
}

}  // namespace fotolane::gallery
