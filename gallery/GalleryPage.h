#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "gallery/GalleryInterfaces.h"
#include "platform/files/FileSystem.h"

namespace fotolane::gallery {

// The gallery page: a fixed sequence of lines, each ending in CR LF, one byte
// per character, declared ISO-8859-1. Names and the title arrive as UTF-8
// (what the file system and the window give); the functions below turn them
// into page bytes so that the browser sees exactly the picture's name and no
// name can break the page or bring markup or script into it.

// Page characters of UTF-8 text: U+0000 to U+00FF as their one byte, every
// character above as a numeric reference "&#N;". A byte sequence that is not
// valid UTF-8 stands for U+FFFD (one for each maximal invalid piece).
std::string PageCharacters(std::string_view utf8);

// Text or an attribute value: "&", "<", ">" and '"' as entities, CR and LF
// as "&#13;" and "&#10;" (so that a name never breaks a page line), then page
// characters.
std::string HtmlText(std::string_view utf8);

// The title as the user typed it, markup and all; every line break (CR LF,
// a lone CR or a lone LF) becomes CR LF.
std::string TypedTitle(std::string_view utf8);

// A piece of a URL: every byte except ASCII letters, digits and
// - . _ ~ ! $ ( ) * + , ; = @ as "%XX" (upper-case hex). The bytes of a name
// are kept exactly, so the link reaches the file whatever its encoding.
std::string UrlPart(std::string_view bytes);

// A value inside a single-quoted script string that itself stands inside a
// double-quoted attribute: "\" and "'" escaped with a backslash, control
// characters and U+2028/U+2029 as "\uXXXX", then '"', "&" and "<" as entities
// and page characters.
std::string ScriptStringInAttribute(std::string_view utf8);

// The browser window name for a base name: one character for each character
// of it. A leading digit becomes "_"; every later character that is not an
// ASCII letter or digit becomes "_". UTF-8 in and out.
std::string MakeWindowName(const std::string& strName);

// The file that the viewer opens: the picture itself, by its listed name.
std::string ViewerFileArgument(const std::string& strName);

// The thumbnails per row, as typed into "for Row"; a negative count counts as
// its size. Kept wider than 32 bits so that the size of -2147483648 fits.
std::int64_t PerRowCount(std::string_view text);

// Whether `value` is a multiple of the per-row count; a count of 0 is a
// "Division by zero" fault.
bool IsMultipleOf(std::int64_t value, std::int64_t perRow);

// Lines that carry values. The title lines take page text already made;
// the image lines take the picture's name as listed and encode each use of
// it (the thumbnail's and the picture's URL, the alt text, the window name).
std::string TitleLine(std::string_view title);
std::string HeadingLine(std::string_view title);
std::string CellOpeningLine(std::int32_t lThumbSize);
std::vector<std::string> ViewerImageLines(const std::string& strName, std::int32_t lWidth,
                                          std::int32_t lHeight);
std::vector<std::string> LinkImageLines(const std::string& strName);

// Writes the page of one run into a file the run has opened. It reads the
// window's inputs at the moments the lines need them: the title check and
// text and the viewer check in the header, the per-row count and the viewer
// check anew for every cell. Every fault (writing, a picture whose size
// cannot be had, a per-row count of 0) goes to the caller; whatever was
// written stays written.
class GalleryPage {
  public:
    // strPictureFolder: the run's folder, where the pictures named in the
    // cells lie. All references must outlive the page object.
    GalleryPage(TextFileWriter& file, const IGalleryInputs& inputs, IThumbnailMaker& thumbnails,
                std::string strPictureFolder);

    // From "<html>" to the table's opening line.
    void WritePageHeader(const std::string& strFolderName);
    // The lines of picture i (counted from 1), opening and closing its row.
    void WritePictureCell(const std::string& strName, std::int32_t i, std::int32_t lThumbSize);
    // The four closing lines, written only at a normal end.
    void WritePageFooter();

  private:
    std::int64_t PerRow() const;

    TextFileWriter& file_;
    const IGalleryInputs& inputs_;
    IThumbnailMaker& thumbnails_;
    std::string pictureFolder_;
};

}  // namespace fotolane::gallery
