#include "gallery/AlbumPage.h"

#include <array>

#include "gallery/AlbumTemplate.h"
#include "gallery/GalleryPage.h"
#include "gallery/ModThumbnails.h"
#include "gallery/Utf8.h"

namespace fotolane::gallery {
namespace {

std::string BaseName(const std::string& strName) {
    std::string path = strName;
    bool bExtensionFound = false;
    return ModThumbnails::SplitFileName(path, bExtensionFound);
}

// A URL inside srcset, where a comma next to a blank would split the list.
std::string SrcsetUrl(std::string_view url) {
    std::string out;
    for (const char c : url) {
        if (c == ',') {
            out += "%2C";
        } else {
            out += c;
        }
    }
    return out;
}

std::string Number(std::int32_t value) {
    return std::to_string(value);
}

std::string SizeAttributes(PixelSize size) {
    return " width=\"" + Number(size.width) + "\" height=\"" + Number(size.height) + "\"";
}

std::string Navigation(const AlbumLinks& links) {
    if (!links.parent && links.children.empty()) return {};
    std::string nav = "<nav aria-label=\"Albums\"><ul>\n";
    if (links.parent) nav += "<li><a href=\"../index.html\" rel=\"up\">Up</a></li>\n";
    for (const std::string& child : links.children) {
        nav +=
            "<li><a href=\"" + UrlPart(child) + "/index.html\">" + AlbumText(child) + "</a></li>\n";
    }
    return nav + "</ul></nav>\n";
}

}  // namespace

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

std::string ShownDate(std::string_view dateTaken) {
    // "YYYY-MM-DDTHH:MM:SS": the date, a blank, the hour and minute.
    if (dateTaken.size() < 16) return std::string(dateTaken);
    return std::string(dateTaken.substr(0, 10)) + " " + std::string(dateTaken.substr(11, 5));
}

std::string AlbumItem(const AlbumPicture& picture, std::size_t index) {
    const std::string base = BaseName(picture.name);
    const std::string name = UrlPart(picture.name);
    const std::string thumbnail = "Thumbnails/" + UrlPart(base) + ".jpg";
    const std::string large = std::string(kLargeThumbnailFolder) + "/" + name + ".jpg";
    const std::string preview =
        picture.preview ? std::string(kPreviewFolder) + "/" + name + ".jpg" : name;

    std::string item = "<li><figure>\n";
    item += "<a href=\"" + name + "\" data-preview=\"" + preview + "\" data-key=\"" + name + "\">";
    item += "<img src=\"" + thumbnail + "\" srcset=\"" + SrcsetUrl(thumbnail) + " " +
            Number(picture.thumbnail.width) + "w, " + SrcsetUrl(large) + " " +
            Number(picture.largeThumbnail.width) + "w\"";
    // The slot is a grid column: 7rem and up on a phone, 10rem and up wider.
    item += " sizes=\"(min-width: 40rem) 11rem, 8rem\"";
    item += SizeAttributes(picture.thumbnail);
    if (index >= kEagerThumbnails) item += " loading=\"lazy\"";
    item += " alt=\"" + AlbumText(base) + "\"></a>\n";
    item += "<figcaption>" + AlbumText(picture.name);
    if (!picture.dateTaken.empty()) {
        item += " <time datetime=\"" + AlbumText(picture.dateTaken) + "\">" +
                AlbumText(ShownDate(picture.dateTaken)) + "</time>";
    }
    item += "</figcaption>\n</figure></li>\n";
    return item;
}

std::string AlbumHtml(std::string_view title, std::span<const AlbumPicture> pictures,
                      const AlbumLinks& links) {
    std::string items;
    for (std::size_t i = 0; i < pictures.size(); ++i) items += AlbumItem(pictures[i], i);
    const std::string text = AlbumText(title);
    const std::string navigation = Navigation(links);
    const std::array<TemplateValue, 5> values = {{
        {"TITLE", text},
        {"NAVIGATION", navigation},
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
