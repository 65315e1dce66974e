// The page writer with random names, folder names and titles: the page is
// written whole through GalleryPage into a file and read back the way a
// browser reads it. Every line must end in CR LF with no other line break in
// it; every name must come back exactly from each place it is written: from
// the links and sources by percent-decoding, from the alt text by HTML
// unescaping, the window name through HTML and then script-string
// unescaping; the folder name from the default title likewise.
//
// Input: a flags byte (viewer, typed title, thumbnails per row), four bytes of
// thumbnail size, then NUL-separated texts: the title, the folder's name,
// and the pictures' names.

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzTarget.h"
#include "gallery/GalleryInterfaces.h"
#include "gallery/GalleryPage.h"
#include "gallery/ModThumbnails.h"
#include "platform/core/Utf8.h"
#include "platform/files/FileSystem.h"

namespace fotolane::fuzz {
namespace {

class Inputs : public gallery::IGalleryInputs {
  public:
    std::string FolderPath() const override { return {}; }
    std::string ForRowText() const override { return std::to_string(perRow); }
    std::string SizeText() const override { return {}; }
    std::string TitleText() const override { return title; }
    gallery::CheckValue TitleCheck() const override { return Check(typedTitle); }
    gallery::CheckValue ViewerCheck() const override { return Check(viewer); }
    static gallery::CheckValue Check(bool checked) {
        return checked ? gallery::CheckValue::Checked : gallery::CheckValue::Unchecked;
    }
    bool AllSelected() const override { return true; }

    int perRow = 1;
    std::string title;
    bool typedTitle = false;
    bool viewer = false;
};

// Every picture is 640 x 480 pixels, so that the viewer lines can be told.
class Sizes : public gallery::IThumbnailMaker {
  public:
    void Get_Thrumbal(const std::string&, const std::string&, bool, std::int32_t&) override {}
    void Get_SizePicture(const std::string&, std::int32_t& DimX, std::int32_t& DimY) override {
        DimX = 640;
        DimY = 480;
    }
};

// --- What a browser makes of the page's bytes ---------------------------

// Browsers read a page labelled ISO-8859-1 as windows-1252, and numeric
// references to 0x80 to 0x9F are read the same way: those C1 characters
// cannot be written in HTML text at all.
constexpr std::array<char32_t, 32> kWindows1252 = {
    0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

char32_t AsBrowserReadsIt(char32_t c) {
    return c >= 0x80 && c <= 0x9F ? kWindows1252[c - 0x80] : c;
}

// An attribute value or text of the page, unescaped as a browser does, as
// UTF-8; nothing when an "&" starts no reference the writer could have meant.
std::optional<std::string> HtmlUnescaped(std::string_view page) {
    static constexpr std::array<std::pair<std::string_view, char32_t>, 4> kEntities = {
        {{"&amp;", U'&'}, {"&lt;", U'<'}, {"&gt;", U'>'}, {"&quot;", U'"'}}};
    std::string out;
    std::size_t i = 0;
    while (i < page.size()) {
        const auto byte = static_cast<unsigned char>(page[i]);
        if (byte == '\r') {
            // The input stream turns CR LF and a lone CR into LF.
            out += '\n';
            i += i + 1 < page.size() && page[i + 1] == '\n' ? 2u : 1u;
            continue;
        }
        if (byte != '&') {
            AppendUtf8(out, AsBrowserReadsIt(byte));
            ++i;
            continue;
        }
        const std::string_view rest = page.substr(i);
        bool named = false;
        for (const auto& [entity, c] : kEntities) {
            if (rest.starts_with(entity)) {
                AppendUtf8(out, c);
                i += entity.size();
                named = true;
                break;
            }
        }
        if (named) continue;
        if (!rest.starts_with("&#")) return std::nullopt;
        std::size_t end = 2;
        char32_t c = 0;
        while (end < rest.size() && rest[end] >= '0' && rest[end] <= '9' && end < 10) {
            c = c * 10 + static_cast<char32_t>(rest[end] - '0');
            ++end;
        }
        if (end == 2 || end >= rest.size() || rest[end] != ';') return std::nullopt;
        if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        AppendUtf8(out, AsBrowserReadsIt(c));
        i += end + 1;
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The bytes a URL piece stands for; nothing when it holds a character that
// a URL parser would change or take as a delimiter.
std::optional<std::string> PercentDecoded(std::string_view url) {
    static constexpr std::string_view kKept = "-._~!$()*+,;=@";
    std::string out;
    for (std::size_t i = 0; i < url.size(); ++i) {
        const char c = url[i];
        if (c == '%') {
            if (i + 2 >= url.size()) return std::nullopt;
            const int high = HexValue(url[i + 1]);
            const int low = HexValue(url[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                   kKept.find(c) != std::string_view::npos) {
            out += c;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

// The value of a single-quoted script string that starts at `at` (just after
// its quote), as UTF-8; `at` moves past the closing quote. Nothing when the
// string is not closed on its line or holds an escape the writer never makes.
std::optional<std::string> ScriptString(std::string_view script, std::size_t& at) {
    std::string out;
    char32_t highSurrogate = 0;
    while (at < script.size()) {
        const auto lead = static_cast<unsigned char>(script[at]);
        if (lead == '\'') {
            ++at;
            return highSurrogate == 0 ? std::optional<std::string>(out) : std::nullopt;
        }
        if (lead == '\n' || lead == '\r') return std::nullopt;
        if (lead != '\\') {
            // Already UTF-8 from HtmlUnescaped; U+2028 and U+2029 would end
            // the line in older engines.
            if (script.substr(at).starts_with("\xE2\x80\xA8") ||
                script.substr(at).starts_with("\xE2\x80\xA9")) {
                return std::nullopt;
            }
            out += script[at++];
            continue;
        }
        if (at + 1 >= script.size()) return std::nullopt;
        const char kind = script[at + 1];
        if (kind == '\\' || kind == '\'') {
            out += kind;
            at += 2;
            continue;
        }
        if (kind != 'u' || at + 6 > script.size()) return std::nullopt;
        char32_t unit = 0;
        for (std::size_t k = at + 2; k < at + 6; ++k) {
            const int digit = HexValue(script[k]);
            if (digit < 0) return std::nullopt;
            unit = unit * 16 + static_cast<char32_t>(digit);
        }
        at += 6;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            highSurrogate = unit;
            continue;
        }
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
            if (highSurrogate == 0) return std::nullopt;
            unit = 0x10000 + ((highSurrogate - 0xD800) << 10) + (unit - 0xDC00);
            highSurrogate = 0;
        }
        AppendUtf8(out, unit);
    }
    return std::nullopt;
}

// --- The page's expected shape ------------------------------------------

// Whether the text holds a C1 control character (U+0080 to U+009F, UTF-8
// C2 80 to C2 9F), which HTML cannot carry.
bool HoldsC1(std::string_view utf8) {
    for (std::size_t i = 0; i + 1 < utf8.size(); ++i) {
        if (static_cast<unsigned char>(utf8[i]) == 0xC2 &&
            static_cast<unsigned char>(utf8[i + 1]) <= 0x9F &&
            static_cast<unsigned char>(utf8[i + 1]) >= 0x80) {
            return true;
        }
    }
    return false;
}

// Text that HTML escaping must give back exactly: a browser turns
// CR LF and a lone CR into LF only when they stand raw in the page, so a
// name holding them comes back only if the writer wrote references.
void CheckHtmlText(std::string_view page, const std::string& expected, const char* where) {
    const std::optional<std::string> back = HtmlUnescaped(page);
    FUZZ_CHECK(back.has_value(), std::string(where) + ": stray '&' in " + std::string(page));
    // Text that is not UTF-8 comes back with U+FFFD in place of the broken
    // pieces; C1 characters cannot come back at all.
    if (!IsWellFormedUtf8(expected) || HoldsC1(expected)) return;
    FUZZ_CHECK(*back == expected, std::string(where) + ": " + std::string(page));
}

// Cuts `prefix` off the front of `line`; false when the line does not start so.
bool Consume(std::string_view& line, std::string_view prefix) {
    if (!line.starts_with(prefix)) return false;
    line.remove_prefix(prefix.size());
    return true;
}

// Everything up to the next '"' (which is consumed).
std::string_view UpToQuote(std::string_view& line) {
    const std::size_t quote = line.find('"');
    FUZZ_CHECK(quote != std::string_view::npos, std::string(line));
    const std::string_view value = line.substr(0, quote);
    line.remove_prefix(quote + 1);
    return value;
}

void CheckUrl(std::string_view url, const std::string& expected, const char* where) {
    const std::optional<std::string> bytes = PercentDecoded(url);
    FUZZ_CHECK(bytes.has_value() && *bytes == expected,
               std::string(where) + ": " + std::string(url));
}

// Reads the page line by line, as the writer has written it.
class PageReader {
  public:
    explicit PageReader(std::vector<std::string_view> lines) : lines_(std::move(lines)) {}

    std::string_view Next() {
        FUZZ_CHECK(next_ < lines_.size(), "the page ends early");
        return lines_[next_++];
    }
    void Expect(std::string_view line) {
        const std::string_view got = Next();
        FUZZ_CHECK(got == line, "expected " + std::string(line) + ", got " + std::string(got));
    }
    // A block of `count` lines, with their CR LFs between them.
    std::string Block(std::size_t count) {
        std::string block(Next());
        for (std::size_t k = 1; k < count; ++k) {
            block += "\r\n";
            block += Next();
        }
        return block;
    }
    bool AtEnd() const { return next_ == lines_.size(); }

  private:
    std::vector<std::string_view> lines_;
    std::size_t next_ = 0;
};

// How many lines a typed title takes: one more than its line breaks (CR LF,
// a lone CR, a lone LF).
std::size_t LinesOfTitle(std::string_view title) {
    std::size_t lines = 1;
    for (std::size_t i = 0; i < title.size(); ++i) {
        if (title[i] == '\n' ||
            (title[i] == '\r' && (i + 1 == title.size() || title[i + 1] != '\n'))) {
            ++lines;
        }
    }
    return lines;
}

void CheckTitleBlock(PageReader& page, const Inputs& inputs, const std::string& folderName,
                     std::string_view open, std::string_view close) {
    if (inputs.typedTitle) {
        // Written as typed: only its lines are the page's business.
        const std::string block = page.Block(LinesOfTitle(inputs.title));
        FUZZ_CHECK(block.starts_with(open) && block.ends_with(close), block);
        return;
    }
    std::string_view line = page.Next();
    FUZZ_CHECK(Consume(line, open) && line.ends_with(close), std::string(line));
    line.remove_suffix(close.size());
    FUZZ_CHECK(line.ends_with(" Gallery"), std::string(line));
    line.remove_suffix(std::string_view(" Gallery").size());
    CheckHtmlText(line, folderName, "folder name in the title");
}

void CheckCell(PageReader& page, const Inputs& inputs, const std::string& name) {
    std::string folderPart = name;
    bool bExtensionFound = false;
    const std::string base = gallery::ModThumbnails::SplitFileName(folderPart, bExtensionFound);
    std::string_view line = page.Next();
    if (inputs.viewer) {
        FUZZ_CHECK(Consume(line, "<img style=\"cursor:hand\" src=\"Thumbnails/"),
                   std::string(line));
        const std::string_view source = UpToQuote(line);
        FUZZ_CHECK(line.empty() && source.ends_with(".jpg"), std::string(line));
        CheckUrl(source.substr(0, source.size() - 4), base, "thumbnail source");

        line = page.Next();
        FUZZ_CHECK(Consume(line, "onmouseup = \""), std::string(line));
        const std::string_view handler = UpToQuote(line);
        FUZZ_CHECK(line.empty(), std::string(line));
        const std::optional<std::string> script = HtmlUnescaped(handler);
        FUZZ_CHECK(script.has_value(), std::string(handler));
        std::string_view call = *script;
        FUZZ_CHECK(Consume(call, "javascript:Viewer('"), *script);
        std::size_t at = 0;
        const std::optional<std::string> window = ScriptString(call, at);
        FUZZ_CHECK(window.has_value(), *script);
        call.remove_prefix(at);
        FUZZ_CHECK(Consume(call, ",'"), *script);
        at = 0;
        const std::optional<std::string> file = ScriptString(call, at);
        FUZZ_CHECK(file.has_value(), *script);
        call.remove_prefix(at);
        FUZZ_CHECK(call == ",640,480);", *script);
        const std::string windowName = gallery::MakeWindowName(base);
        if (!HoldsC1(windowName)) FUZZ_CHECK(*window == windowName, *script);
        CheckUrl(*file, name, "viewer file");

        line = page.Next();
        FUZZ_CHECK(Consume(line, "alt=\"Preview "), std::string(line));
        CheckHtmlText(UpToQuote(line), base, "alt text");
        FUZZ_CHECK(line == " border=\"1\"></td>", std::string(line));
    } else {
        FUZZ_CHECK(Consume(line, "<a href=\""), std::string(line));
        CheckUrl(UpToQuote(line), name, "link");
        FUZZ_CHECK(line == ">", std::string(line));

        line = page.Next();
        FUZZ_CHECK(Consume(line, "<img src=\"Thumbnails/"), std::string(line));
        const std::string_view source = UpToQuote(line);
        FUZZ_CHECK(source.ends_with(".jpg"), std::string(source));
        CheckUrl(source.substr(0, source.size() - 4), base, "thumbnail source");
        FUZZ_CHECK(Consume(line, "alt=\"Preview "), std::string(line));
        CheckHtmlText(UpToQuote(line), base, "alt text");
        FUZZ_CHECK(line == " border=\"1\"></a></td>", std::string(line));
    }
}

std::string PagePath() {
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string folder = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                             "/fotolane-page-fuzz-XXXXXX";
        FUZZ_CHECK(::mkdtemp(folder.data()) != nullptr, folder);
        return folder + "/page.htm";
    }();
    return path;
}

}  // namespace
}  // namespace fotolane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fotolane;
    using namespace fotolane::fuzz;
    if (size > 4096) return 0;
    InputReader input(data, size);
    const std::uint8_t flags = input.Byte();
    Inputs inputs;
    inputs.viewer = (flags & 1) != 0;
    inputs.typedTitle = (flags & 2) != 0;
    inputs.perRow = 1 + (flags >> 2) % 4;
    const auto thumbSize = static_cast<std::int32_t>(input.InRange(INT32_MIN, INT32_MAX));
    inputs.title = input.Text(0);
    const std::string folderName = input.Text(0);
    std::vector<std::string> names;
    while (!input.Empty() && names.size() < 16) {
        std::string name = input.Text(0);
        // Only what a folder can list: no empty names, no "/", no "." or "..".
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
            continue;
        }
        names.push_back(std::move(name));
    }
    if (inputs.typedTitle && inputs.title.empty()) return 0;  // the run refuses it

    const std::string path = PagePath();
    {
        TextFileWriter file;
        file.Open(path);
        Sizes sizes;
        gallery::GalleryPage writer(file, inputs, sizes, "/photos/" + folderName);
        writer.WritePageHeader(folderName);
        for (std::size_t i = 0; i < names.size(); ++i) {
            writer.WritePictureCell(names[i], static_cast<std::int32_t>(i + 1), thumbSize);
        }
        writer.WritePageFooter();
        file.Close();
    }
    std::ifstream stream(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(stream), {}};

    // Every line ends in CR LF, and no line holds a CR or LF of its own.
    FUZZ_CHECK(bytes.ends_with("\r\n"), "the page's last line has no CR LF");
    std::vector<std::string_view> lines;
    std::string_view rest = bytes;
    while (!rest.empty()) {
        const std::size_t end = rest.find("\r\n");
        const std::string_view line = rest.substr(0, end);
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string_view::npos,
                   "a line break inside a line: " + std::string(line));
        lines.push_back(line);
        rest.remove_prefix(end + 2);
    }

    PageReader page(std::move(lines));
    page.Expect("<html>");
    page.Expect("<head>");
    page.Next();  // the two meta lines
    page.Next();
    if (inputs.viewer) {
        for (int k = 0; k < 14; ++k) page.Next();  // the viewer script
    }
    CheckTitleBlock(page, inputs, folderName, "<title>", "</title>");
    page.Expect("</head>");
    page.Expect("<body>");
    CheckTitleBlock(page, inputs, folderName,
                    "<p align=\"center\"><big><strong><big><big><font face=\"Comic Sans MS\">",
                    "</font></big></big></strong></big></p>");
    page.Expect("<div align=\"center\"><center>");
    page.Expect("<table border=\"1\">");
    const std::string cellOpening = "<td align=\"center\" width=\"" + std::to_string(thumbSize) +
                                    "\" height=\"" + std::to_string(thumbSize) + "\">";
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i % static_cast<std::size_t>(inputs.perRow) == 0) page.Expect("<tr>");
        page.Expect(cellOpening);
        CheckCell(page, inputs, names[i]);
        if ((i + 1) % static_cast<std::size_t>(inputs.perRow) == 0) page.Expect("</tr>");
    }
    page.Expect("</table>");
    page.Expect("</center></div>");
    page.Expect("</body>");
    page.Expect("</html>");
    FUZZ_CHECK(page.AtEnd(), "lines after the page's end");
    return 0;
}
