#pragma once

#include <cstdint>
#include <string>

#include "decoding/PictureDecoder.h"
#include "platform/core/PixelRows.h"

namespace fotolane::picture {

// The album's decoding: every picture the gallery takes, and the formats of
// phones and of the web beside them, told by the content, never by the name.
// The gallery's own decodes (DecodePicture, ReadPictureSize, the
// SamplingDecoder of its thumbnails) stay with JPEG, BMP and GIF.
//
// - JPEG, Windows bitmaps and GIF: exactly as DecodePicture and
//   ReadPictureSize, with their faults.
// - PNG (libspng): every colour type and bit depth, interlaced or not; the
//   transparency of an alpha channel or of tRNS laid over white, rounded as
//   Chromium does; 16 bits a channel down to their high byte, as Chromium
//   shows them; an animated PNG as its default image (its first frame); gAMA,
//   cHRM, iCCP and sRGB are not applied (the pixels as stored, as for a
//   JPEG's colour profile). Data that ends or breaks after the first image
//   data chunk leaves the lines it does not reach white, as Chromium shows
//   them.
// - WebP (libwebp): lossy, lossless, with alpha (over white), an animation
//   as its first frame on its canvas; lossy data that ends early is decoded
//   as far as it goes, the rest white.
// - HEIC, HEIF and AVIF (libheif, with libde265 and dav1d): the primary
//   image, with its rotation, mirroring and cropping applied, alpha over
//   white, more than 8 bits a channel rounded to 8.
//
// The rows are 24-bit bottom-up B, G, R (platform/core/PixelRows.h), the
// picture upright. The size comes from the header first: the rows and an
// estimate of the decoder's working memory are drawn from the picture
// memory budget (platform/core/MemoryBudget.h) before anything of that size
// is allocated, and libspng's own allocations and libheif's largest picture
// are held to that budget too, so that a file that claims a huge picture is
// "Out of memory" at once.
//
// Faults, each naming the file: "File not found", "Permission denied",
// "Invalid picture" (no picture of these formats, or one its decoder
// refuses), "Overflow" (a size from the header beyond the 32-bit row
// limits), "Out of memory". A function of the file alone: safe to call from
// several threads at once; the same file gives the same rows on any thread.
PixelRows DecodeAlbumPicture(const std::string& path);

// The picture at least minWidth x minHeight where that costs less than
// DecodeAlbumPicture, made to be shrunk further (by area averaging): a still
// WebP larger than that is decoded at the smallest size of its shape that
// is at least that, by libwebp's own scaling, which averages as it decodes
// (close to the whole decode averaged to that size, not the same). Its
// memory then follows that size, but for a lossless picture's pixels and a
// lossy one's alpha, which libwebp keeps whole. Any other picture as
// DecodeAlbumPicture gives it, with its faults.
PixelRows DecodeAlbumPictureAtLeast(const std::string& path, std::int32_t minWidth,
                                    std::int32_t minHeight);

// A PNG's pixels, those DecodeAlbumPicture gives, into `sink` as libspng
// decodes them (picture::PixelSink): the lines that truncated data does not
// reach are never given (white, the background), and nothing of the
// picture's size is held but the file's bytes and libspng's lines. False,
// and nothing given, for any other format. The faults of
// DecodeAlbumPicture.
bool StreamAlbumPicture(const std::string& path, PixelSink& sink);

// The size DecodeAlbumPicture gives, upright, read from the header: the
// file's first 256 KiB for PNG and WebP, the whole file's box structure
// (not its image data) for HEIF. The same faults for a file whose header
// cannot be read.
PictureSize ReadAlbumPictureSize(const std::string& path);

// Whether Chromium shows the file itself, by its content: JPEG, bitmaps,
// GIF, PNG, WebP, and HEIF whose file type names AVIF; not HEIC or other
// HEIF, nor what is no picture. The faults of reading the file's start.
bool BrowsersShowPicture(const std::string& path);

}  // namespace fotolane::picture
