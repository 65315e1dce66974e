#pragma once

#include <cstdint>
#include <string>

#include "platform/core/PixelRows.h"

namespace fotolane::picture {
class LineSink;
}

namespace fotolane::imaging {

// The picture at width x height by area averaging: every target pixel is the
// mean of the source area it covers, each source pixel weighted by the part
// of it that lies inside. Unlike point sampling it loses no detail to
// aliasing when shrinking by large factors (a 5000-pixel photograph to a
// 140-pixel thumbnail); enlarging blends at most two source pixels per axis.
// Rows in and out are 24-bit bottom-up (PixelRows); the mapping is the same
// from either end, so the rows are worked on in memory order. A source
// without pixels or a target size below 1 is a "Subscript out of range"
// fault; memory that cannot be had, "Out of memory".
PixelRows ResizeByArea(const PixelRows& source, std::int32_t width, std::int32_t height);

// The picture file at width x height by area averaging. A JPEG is decoded
// at the smallest of libjpeg's scales N/8 that gives at least
// kScaledDecodeMargin times the target in both directions, whole when the
// picture is no larger (at the smallest scale that gives the target when
// that would be beyond the memory budget), and its lines are averaged as
// libjpeg gives them (picture::StreamJpegAtLeast), only the few that a
// target line needs held at a time: the same bytes as ResizeByArea of the
// rows of that decode (picture::DecodePictureAtLeast), but for the rounding
// of a turned picture, which is averaged as stored and turned after; and
// close to ResizeByArea of its whole decode (a peak signal-to-noise ratio of
// at least kScaledDecodeBound over the test pictures at the album's sizes)
// for a fraction of its work and memory. A bitmap or a GIF is the same as
// ResizeByArea of its whole decode to within a level (rounding) in any
// channel, averaged from the pixels as the decoder gives them
// (picture::StreamPicture), so that neither memory nor time follows the
// size that the file claims. The target's rows (and for a bitmap or a GIF
// its sums, 12 bytes a pixel), a JPEG's few lines and libjpeg's working
// memory (all coefficients of a progressive file, packed between libjpeg's
// visits: a fraction of its 128 bytes a block) are the memory; the
// data's pixels and the target's the time. Faults as
// picture::DecodePicture's and ResizeByArea's, each naming the file.
// `alsoTo`, when given, is told a JPEG's lines as well, as they are decoded
// (so that other work can take what it needs of them in the same pass).
inline constexpr std::int32_t kScaledDecodeMargin = 3;
inline constexpr double kScaledDecodeBound = 45.0;  // dB
PixelRows DecodeByArea(const std::string& path, std::int32_t width, std::int32_t height,
                       picture::LineSink* alsoTo = nullptr);

// The album's own formats (picture::DecodeAlbumPicture) at width x height
// by area averaging. A PNG is averaged from its lines as libspng decodes
// them (picture::StreamAlbumPicture), the same as ResizeByArea of its whole
// decode to within a level: its memory is the file's bytes, libspng's lines
// and the target's sums, whatever size the file claims. A still WebP is
// averaged from libwebp's scaled decode at kScaledDecodeMargin times the
// target (picture::DecodeAlbumPictureAtLeast), within kScaledDecodeBound
// of ResizeByArea of its whole decode, its memory following that size. Any
// other picture (an animated WebP, HEIC, AVIF, and what its content shows
// to be JPEG, bitmap or GIF) is ResizeByArea of its whole decode. Faults as DecodeAlbumPicture's
// and ResizeByArea's, each naming the file.
PixelRows DecodeAlbumByArea(const std::string& path, std::int32_t width, std::int32_t height);

}  // namespace fotolane::imaging
