#include "gallery/GalleryPage.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "gallery/GalleryPaths.h"
#include "gallery/ModThumbnails.h"
#include "platform/core/Fault.h"
#include "platform/core/Numbers.h"
#include "platform/core/Utf8.h"

namespace fotolane::gallery {
namespace {

void AppendPageCharacter(std::string& out, char32_t c) {
    if (c <= 0xFF) {
        out += static_cast<char>(static_cast<unsigned char>(c));
    } else {
        out += "&#";
        out += std::to_string(static_cast<std::uint32_t>(c));
        out += ';';
    }
}

// The HTML escapes shared by text and attributes.
bool AppendEntity(std::string& out, char32_t c) {
    switch (c) {
        case U'&':
            out += "&amp;";
            return true;
        case U'<':
            out += "&lt;";
            return true;
        case U'>':
            out += "&gt;";
            return true;
        case U'"':
            out += "&quot;";
            return true;
        // A line break inside a name would split the page's line, whose
        // lines all end in CR LF.
        case U'\r':
            out += "&#13;";
            return true;
        case U'\n':
            out += "&#10;";
            return true;
        default:
            return false;
    }
}

bool IsAsciiLetterOrDigit(char32_t c) {
    return (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z') || (c >= U'0' && c <= U'9');
}

// The picture's name without its last extension: what the thumbnail is named
// after.
std::string BaseName(const std::string& strName) {
    std::string path = strName;
    bool bExtensionFound = false;
    return ModThumbnails::SplitFileName(path, bExtensionFound);
}

// The viewer function, written into the head when the viewer is enabled.
// It opens the picture in a window of the picture's size (a little more for
// Internet Explorer's frame), centred on the screen.
constexpr std::array<std::string_view, 14> kViewerScript = {
    "<script language=\"javascript\">",
    "    function Viewer(WindowName, strFile, imgWidth, imgHeight)",
    "    {",
    "       var lLeft, lTop;",
    "       if (navigator.appName == 'Microsoft Internet Explorer')",
    "       {",
    "          imgWidth = imgWidth + 22;",
    "          imgHeight = imgHeight + 28;",
    "       }",
    "       lLeft = (screen.availWidth - imgWidth) / 2;",
    "       lTop = (screen.availHeight - imgHeight) / 2;",
    "       window.open(strFile,WindowName,'height=' + imgHeight + ',width=' + imgWidth + ',left=' "
    "+ lLeft + ',top=' + lTop);",
    "    }",
    "</script>",
};

}  // namespace

std::string PageCharacters(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    ForEachCharacter(utf8, [&out](char32_t c) { AppendPageCharacter(out, c); });
    return out;
}

std::string HtmlText(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    ForEachCharacter(utf8, [&out](char32_t c) {
        if (!AppendEntity(out, c)) AppendPageCharacter(out, c);
    });
    return out;
}

std::string TypedTitle(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    bool afterCr = false;
    ForEachCharacter(utf8, [&](char32_t c) {
        if (c == U'\n' && afterCr) {
            afterCr = false;  // the LF of a CR LF already written
            return;
        }
        afterCr = c == U'\r';
        if (c == U'\r' || c == U'\n') {
            out += "\r\n";
        } else {
            AppendPageCharacter(out, c);
        }
    });
    return out;
}

std::string UrlPart(std::string_view bytes) {
    static constexpr std::string_view kKept = "-._~!$()*+,;=@";
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        if (IsAsciiLetterOrDigit(c) || kKept.find(byte) != std::string_view::npos) {
            out += byte;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

std::string ScriptStringInAttribute(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    ForEachCharacter(utf8, [&out](char32_t c) {
        if (c == U'\\' || c == U'\'') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F || c == 0x2028 || c == 0x2029) {
            // A raw line break or control character would end or spoil the
            // script string.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
            out += escape;
        } else if (c == U'"' || c == U'&' || c == U'<') {
            AppendEntity(out, c);
        } else {
            AppendPageCharacter(out, c);
        }
    });
    return out;
}

std::string MakeWindowName(const std::string& strName) {
    std::string out;
    out.reserve(strName.size());
    bool first = true;
    ForEachCharacter(strName, [&](char32_t c) {
        if (first) {
            first = false;
            if (c >= U'0' && c <= U'9') {
                out += '_';
            } else {
                AppendUtf8(out, c);
            }
        } else {
            out += IsAsciiLetterOrDigit(c) ? static_cast<char>(c) : '_';
        }
    });
    return out;
}

std::string ViewerFileArgument(const std::string& strName) {
    return UrlPart(strName);
}

std::int64_t PerRowCount(std::string_view text) {
    return std::llabs(static_cast<long long>(ReadNumber(text)));
}

bool IsMultipleOf(std::int64_t value, std::int64_t perRow) {
    if (perRow == 0) throw Fault::DivisionByZero();
    return value % perRow == 0;
}

std::string TitleLine(std::string_view title) {
    return "<title>" + std::string(title) + "</title>";
}

std::string HeadingLine(std::string_view title) {
    return "<p align=\"center\"><big><strong><big><big><font face=\"Comic Sans MS\">" +
           std::string(title) + "</font></big></big></strong></big></p>";
}

std::string CellOpeningLine(std::int32_t lThumbSize) {
    const std::string size = std::to_string(lThumbSize);
    return "<td align=\"center\" width=\"" + size + "\" height=\"" + size + "\">";
}

namespace {

// Where a picture's thumbnail is, from the page.
std::string ThumbnailSource(const std::string& base) {
    return std::string(kThumbnailFolder) + "/" + UrlPart(base) + ".jpg";
}

}  // namespace

std::vector<std::string> ViewerImageLines(const std::string& strName, std::int32_t lWidth,
                                          std::int32_t lHeight) {
    const std::string base = BaseName(strName);
    return {
        "<img style=\"cursor:hand\" src=\"" + ThumbnailSource(base) + "\"",
        "onmouseup = \"javascript:Viewer('" + ScriptStringInAttribute(MakeWindowName(base)) +
            "','" + ViewerFileArgument(strName) + "'," + std::to_string(lWidth) + "," +
            std::to_string(lHeight) + ");\"",
        "alt=\"Preview " + HtmlText(base) + "\" border=\"1\"></td>",
    };
}

std::vector<std::string> LinkImageLines(const std::string& strName) {
    const std::string base = BaseName(strName);
    return {
        "<a href=\"" + UrlPart(strName) + "\">",
        "<img src=\"" + ThumbnailSource(base) + "\"alt=\"Preview " + HtmlText(base) +
            "\" border=\"1\"></a></td>",
    };
}

GalleryPage::GalleryPage(TextFileWriter& file, const IGalleryInputs& inputs,
                         IThumbnailMaker& thumbnails, std::string strPictureFolder)
    : file_(file),
      inputs_(inputs),
      thumbnails_(thumbnails),
      pictureFolder_(std::move(strPictureFolder)) {}

void GalleryPage::WritePageHeader(const std::string& strFolderName) {
    file_.WriteLine("<html>");
    file_.WriteLine("<head>");
    file_.WriteLine("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">");
    file_.WriteLine("<meta name=\";GENERATOR;\"content=\";Microsoft;FrontPage;3#;\">");
    if (inputs_.ViewerCheck() == CheckValue::Checked) {
        for (const std::string_view line : kViewerScript) file_.WriteLine(line);
    }
    const std::string defaultTitle = HtmlText(strFolderName) + " Gallery";
    file_.WriteLine(TitleLine(inputs_.TitleCheck() == CheckValue::Checked
                                  ? TypedTitle(inputs_.TitleText())
                                  : defaultTitle));
    file_.WriteLine("</head>");
    file_.WriteLine("<body>");
    file_.WriteLine(HeadingLine(inputs_.TitleCheck() == CheckValue::Checked
                                    ? TypedTitle(inputs_.TitleText())
                                    : defaultTitle));
    file_.WriteLine("<div align=\"center\"><center>");
    file_.WriteLine("<table border=\"1\">");
}

void GalleryPage::WritePictureCell(const std::string& strName, std::int32_t i,
                                   std::int32_t lThumbSize) {
    // The count is read at each test, so a count of 0 is first noticed at
    // the first cell's row-closing test, once its other lines stand.
    if (i == 1 || IsMultipleOf(std::int64_t{i} - 1, PerRow())) file_.WriteLine("<tr>");
    file_.WriteLine(CellOpeningLine(lThumbSize));
    if (inputs_.ViewerCheck() == CheckValue::Checked) {
        std::int32_t lWidth = 0;
        std::int32_t lHeight = 0;
        thumbnails_.Get_SizePicture(PathInFolder(pictureFolder_, strName), lWidth, lHeight);
        for (const std::string& line : ViewerImageLines(strName, lWidth, lHeight)) {
            file_.WriteLine(line);
        }
    } else {
        for (const std::string& line : LinkImageLines(strName)) file_.WriteLine(line);
    }
    if (IsMultipleOf(i, PerRow())) file_.WriteLine("</tr>");
}

void GalleryPage::WritePageFooter() {
    file_.WriteLine("</table>");
    file_.WriteLine("</center></div>");
    file_.WriteLine("</body>");
    file_.WriteLine("</html>");
}

std::int64_t GalleryPage::PerRow() const {
    return PerRowCount(inputs_.ForRowText());
}

}  // namespace fotolane::gallery
