#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decoding/SamplingDecoder.h"
#include "gallery/Album.h"
#include "gallery/Site.h"
#include "imaging/JpegEncoder.h"
#include "platform/core/PixelRows.h"
#include "platform/files/FileSystem.h"

namespace fotolane::thumbnails {

// Makes the album's tiles (2x and 1x) and previews: the picture is decoded
// upright once and shrunk by area averaging (imaging/AreaResize.h) to the
// preview when it needs one, the 2x tile then shrunk from that, or else
// straight to the 2x tile, and the 1x tile shrunk from the 2x one; a JPEG is
// decoded at a reduced scale that still gives three times that image's
// size, a bitmap or a GIF averaged as it is decoded, never held whole
// (DecodeByArea). Each is written as a JPEG whole or not at all. The sizes
// follow the thumbnail maker's rule (ThumbnailSizeFor), so the run's own
// thumbnail, the tiles and the preview all keep the picture's shape. PNG,
// WebP, HEIC and AVIF (by name, IsAlbumOnlyPictureName) are told apart by
// their content: a PNG averaged line by line as it is decoded, the others
// decoded whole by picture::DecodeAlbumPicture (DecodeAlbumByArea).
//
// What a picture's metadata gives (date taken, caption, camera details) is
// kept in a record in the 2x tiles' folder (kAlbumRecordName, the site's
// record format), written when the album is done with the folder
// (ExpectAlbumImages with no jobs) or when the maker goes: "New" and
// --update take it from there for a picture whose size and modification
// time are those recorded, rather than reading its metadata again; "All"
// reads every picture's. Safe to call from several threads at once.
class AlbumImages final : public gallery::IAlbumImages {
  public:
    AlbumImages() = default;
    AlbumImages(const AlbumImages&) = delete;
    AlbumImages& operator=(const AlbumImages&) = delete;
    ~AlbumImages() override;

    gallery::AlbumPicture MakeAlbumImages(const std::string& strFileName,
                                          const std::string& strName,
                                          const gallery::AlbumPaths& paths,
                                          gallery::AlbumRemake remake, std::int32_t lThumbSize,
                                          gallery::AlbumImageCounts& counts) override;
    void ExpectAlbumImages(const gallery::AlbumPaths& paths,
                           const std::vector<gallery::AlbumImageJob>& jobs) override;

    // The images of a gallery picture made ahead by the thumbnail maker
    // (frmThumbnails::MakeAlbumsAhead), on the thread that samples its
    // thumbnail, from one decode: the picture decoded and its images encoded
    // as MakeAlbumImages does with "All", the thumbnail's sampled pixels
    // taken into `rows` from the same lines (true then: the sampler need not
    // decode it). A JPEG whose images come from a decode at a reduced scale,
    // which gives no samples, is left to MakeAlbumImages, so that the two
    // decodes' memory is not held at once. The images are held
    // until MakeAlbumImages of the picture with "All" and the same thumbnail
    // size writes them (a picture changed meanwhile is made anew). Nothing
    // is written or shown here: a picture that faults or has anything to
    // say is left to MakeAlbumImages, as are all once kMostHeldAheadBytes
    // are held.
    bool MakeAhead(const std::string& strFileName, std::int32_t lThumbSize,
                   const picture::SampledPixels& sampled, PixelRows& rows);
    // Drops what was made ahead and not taken (a new run begins).
    void DropAhead();
    static constexpr std::size_t kMostHeldAheadBytes = std::size_t{32} << 20;

  private:
    // A picture made ahead: its album picture but for its name, its file's
    // stamp then, its images encoded.
    struct Ahead {
        std::int32_t lThumbSize = 0;
        std::optional<FileStamp> stamp;
        gallery::AlbumPicture album;
        std::optional<jpeg::JpegBytes> preview;
        std::optional<jpeg::JpegBytes> large;
        std::optional<jpeg::JpegBytes> small;
        std::size_t Bytes() const;
    };
    std::optional<Ahead> TakeAhead(const std::string& strFileName, std::int32_t lThumbSize);
    gallery::AlbumPicture WriteAhead(Ahead& ahead, const std::string& strFileName,
                                     const std::string& strName, const gallery::AlbumPaths& paths,
                                     gallery::AlbumImageCounts& counts);
    void RecordMetadata(const gallery::AlbumPaths& paths, const std::string& strName,
                        const std::optional<FileStamp>& stamp, const gallery::AlbumPicture& album);

    // One album folder's record: as read, and the entries of this run.
    struct Record {
        std::string text;
        gallery::SiteRecord read;
        gallery::SiteRecord made;
    };

    void AddMetadata(const std::string& strFileName, const std::string& strName,
                     const gallery::AlbumPaths& paths, gallery::AlbumRemake remake,
                     gallery::AlbumPicture& album);
    Record& RecordOf(const std::string& recordPath);  // with mutex_ held
    void WriteRecord(const std::string& recordPath, const Record& record) noexcept;

    std::mutex mutex_;
    std::map<std::string, Record> records_;  // by the record's path
    std::map<std::string, Ahead> ahead_;     // by the picture's path
    std::size_t aheadBytes_ = 0;
};

// The album's record of its pictures' metadata, in the 2x tiles' folder.
inline constexpr std::string_view kAlbumRecordName = ".fotolane-album";

}  // namespace fotolane::thumbnails
