#pragma once

#include <string>

namespace fotolane::gallery {

// What the album makes of a file by its name's extension (any letter
// case), besides the gallery's own pictures (IsPictureName in
// GalleryRun.h). The decoding itself tells the formats apart by content
// (decoding/AlbumDecoder.h); the names only choose which files the album
// lists, and which it counts as left out.

// The pictures that the album shows and the gallery page does not.
enum class AlbumOnlyFormat { None, Png, WebP, Heic, Avif };

// PNG for ".png", WebP for ".webp", Heic for ".heic" and ".heif", Avif for
// ".avif"; None for any other name, the gallery's pictures included.
AlbumOnlyFormat AlbumOnlyFormatOfName(const std::string& strName);

// Whether the album takes a file of this name: a gallery picture or one of
// the formats above.
bool IsAlbumPictureName(const std::string& strName);
// Whether it is one of the formats above: a picture the album lists beside
// the gallery's.
bool IsAlbumOnlyPictureName(const std::string& strName);

// For a picture or video that neither the gallery nor the album can show
// (camera raw files, TIFF, films of phones and cameras), its extension as
// the message counting them writes it: lower-cased, with its dot (".mov",
// ".cr2"); empty for any other name.
std::string LeftOutExtension(const std::string& strName);

}  // namespace fotolane::gallery
