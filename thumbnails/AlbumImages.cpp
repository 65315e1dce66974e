#include "thumbnails/AlbumImages.h"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <optional>
#include <utility>

#include "decoding/AlbumDecoder.h"
#include "decoding/PictureDecoder.h"
#include "decoding/PictureMetadata.h"
#include "gallery/PictureNames.h"
#include "imaging/AreaResize.h"
#include "imaging/JpegEncoder.h"
#include "platform/core/Fault.h"
#include "platform/core/Numbers.h"
#include "platform/files/FileSystem.h"
#include "platform/files/WholeFile.h"
#include "platform/ui/UserInterface.h"
#include "thumbnails/AlbumJpeg.h"
#include "thumbnails/Freshness.h"
#include "thumbnails/OrderedWorkers.h"
#include "thumbnails/Sampling.h"

namespace fotolane::thumbnails {
namespace {

// Whether the image `strImage` of the picture, `size` when made, is made
// (again): "New" keeps one while it is not older than its picture (a tile
// also while its JPEG header, when it reads, gives its size: an earlier
// version's may be of another), --update only while it is current as a
// thumbnail would be.
bool MustMake(gallery::AlbumRemake remake, const std::string& strImage,
              const std::string& strFileName, const gallery::PixelSize& size, bool tile = false) {
    switch (remake) {
        case gallery::AlbumRemake::All:
            return true;
        case gallery::AlbumRemake::Outdated:
            if (!IsUpToDate(strImage, strFileName)) return true;
            if (tile) {
                try {
                    const picture::PictureSize stored = picture::ReadPictureSize(strImage);
                    return stored.width != size.width || stored.height != size.height;
                } catch (const Fault&) {
                    // Unreadable: "New" looks at its time alone, as at any image.
                }
            }
            return false;
        case gallery::AlbumRemake::Stale:
            return !IsCurrentImage(strImage, strFileName, std::max(size.width, size.height));
    }
    return true;
}

// Which of a picture's album images are made (again), and where each goes;
// those kept are counted in `counts`.
struct ImagePlan {
    std::string smallPath;
    std::string largePath;
    std::string previewPath;
    bool makeSmall = false;
    bool makeLarge = false;
    bool makePreview = false;
    bool Any() const { return makeSmall || makeLarge || makePreview; }
};

ImagePlan PlanImages(const std::string& strFileName, const std::string& strName,
                     const gallery::AlbumPaths& paths, gallery::AlbumRemake remake,
                     const gallery::AlbumPicture& album, gallery::AlbumImageCounts& counts) {
    const std::string image = gallery::AlbumImageName(strName);
    ImagePlan plan{paths.smallThumbnailFolder + image, paths.largeThumbnailFolder + image,
                   paths.previewFolder + image};
    plan.makeSmall = MustMake(remake, plan.smallPath, strFileName, *album.smallThumbnail, true);
    plan.makeLarge = MustMake(remake, plan.largePath, strFileName, *album.largeThumbnail, true);
    plan.makePreview =
        album.preview && MustMake(remake, plan.previewPath, strFileName, *album.preview);
    counts.kept += (plan.makeSmall ? 0 : 1) + (plan.makeLarge ? 0 : 1) +
                   (album.preview && !plan.makePreview ? 1 : 0);
    return plan;
}

// The planned images from rows of the picture's whole shape: the preview
// (the rows themselves, when `previewed`), the 2x tile shrunk from them
// (or the rows themselves, when there is no preview), the 1x tile shrunk
// from that; each dropped from `album` when its writing fails.
void WriteImages(const PixelRows& rows, bool previewed, const ImagePlan& plan,
                 gallery::AlbumPicture& album, gallery::AlbumImageCounts& counts) {
    if (plan.makePreview && !WriteAlbumJpeg(rows, plan.previewPath, kAlbumPreviewQuality, counts)) {
        album.preview.reset();
    }
    if (!plan.makeLarge && !plan.makeSmall) return;
    const gallery::PixelSize large = *album.largeThumbnail;
    PixelRows shrunk;
    if (previewed) shrunk = imaging::ResizeByArea(rows, large.width, large.height);
    const PixelRows& largeRows = previewed ? shrunk : rows;
    if (plan.makeLarge &&
        !WriteAlbumJpeg(largeRows, plan.largePath, kAlbumThumbnailQuality, counts)) {
        album.largeThumbnail.reset();
    }
    if (plan.makeSmall &&
        !WriteAlbumJpeg(imaging::ResizeByArea(largeRows, album.smallThumbnail->width,
                                              album.smallThumbnail->height),
                        plan.smallPath, kAlbumThumbnailQuality, counts)) {
        album.smallThumbnail.reset();
    }
}

// A gallery picture of `size` as the album shows it, but for its metadata:
// its images' sizes.
gallery::AlbumPicture GalleryPictureAlbum(const std::string& strName,
                                          const picture::PictureSize& size,
                                          std::int32_t lThumbSize) {
    gallery::AlbumPicture album;
    album.name = strName;
    album.thumbnail = AlbumImageSize(size, lThumbSize);
    album.largeThumbnail = AlbumTileSize(size);
    album.smallThumbnail = AlbumSmallTileSize(size);
    if (std::max(size.width, size.height) > gallery::kPreviewSide) {
        album.preview = AlbumImageSize(size, gallery::kPreviewSide);
    }
    return album;
}

// What one read of the picture's metadata gives the album.
void ReadMetadataFields(const std::string& strFileName, gallery::AlbumPicture& album) {
    const picture::PictureMetadata metadata = picture::ReadPictureMetadata(strFileName);
    album.dateTaken = metadata.dateTaken;
    album.dateOffset = metadata.dateOffset;
    album.caption = gallery::AlbumCaption(metadata.caption);
    album.details = CameraDetailsOf(metadata);
}

// The lines of a JPEG's decode to `sampled` when they are the whole
// picture's; a decode at a reduced scale stops as it begins (NotWhole), so
// that the album makes that picture after the run, its memory not beside
// the thumbnail's.
struct NotWhole : std::exception {};
class WholeLines final : public picture::LineSink {
  public:
    explicit WholeLines(picture::SampledLines& sampled) : sampled_(sampled) {}
    void Begin(const picture::StreamedLines& lines) override {
        sampled_.Begin(lines);
        if (!sampled_.Whole()) throw NotWhole();
    }
    void Line(const std::uint8_t* bgr) override { sampled_.Line(bgr); }
    void Blank(std::int32_t count) override { sampled_.Blank(count); }

  private:
    picture::SampledLines& sampled_;
};

// A picture of the album's own formats (PNG, WebP, HEIC, AVIF): its tiles
// and preview: the first of them (the preview, else the 2x tile) decoded
// by area averaging (DecodeAlbumByArea, a PNG line by line), the tiles
// shrunk from it. It has no thumbnail of the gallery's: its 1x tile stands in. A
// picture that browsers do not show gets a preview of its own size when it
// is not larger.
template <typename FillMetadata>
gallery::AlbumPicture MakeOwnImages(const std::string& strFileName, const std::string& strName,
                                    const gallery::AlbumPaths& paths, gallery::AlbumRemake remake,
                                    std::int32_t lThumbSize, gallery::AlbumImageCounts& counts,
                                    const FillMetadata& addMetadata) {
    const picture::PictureSize size = picture::ReadAlbumPictureSize(strFileName);
    gallery::AlbumPicture album;
    album.name = strName;
    album.hasThumbnail = false;
    album.browsersShow = picture::BrowsersShowPicture(strFileName);
    album.thumbnail = AlbumImageSize(size, lThumbSize);
    album.largeThumbnail = AlbumTileSize(size);
    album.smallThumbnail = AlbumSmallTileSize(size);
    const std::int32_t longer = std::max(size.width, size.height);
    if (longer > gallery::kPreviewSide || !album.browsersShow) {
        album.preview = AlbumImageSize(size, std::min(longer, gallery::kPreviewSide));
    }
    addMetadata(album);

    const ImagePlan plan = PlanImages(strFileName, strName, paths, remake, album, counts);
    if (!plan.Any()) return album;

    // Decoded straight to the first image, as the gallery's pictures are
    // (DecodeAlbumByArea holds no more of a PNG than that image); a preview
    // of the picture's own size is its whole decode.
    const bool previewed = album.preview.has_value();
    const gallery::PixelSize first = previewed ? *album.preview : *album.largeThumbnail;
    const PixelRows rows = previewed && first.width == size.width && first.height == size.height
                               ? picture::DecodeAlbumPicture(strFileName)
                               : imaging::DecodeAlbumByArea(strFileName, first.width, first.height);
    WriteImages(rows, previewed, plan, album, counts);
    return album;
}

// A record of no more than this is read; a larger file is no record of ours.
constexpr std::size_t kMostRecordBytes = std::size_t{64} << 20;

}  // namespace

AlbumImages::~AlbumImages() {
    const std::scoped_lock lock(mutex_);
    for (const auto& [path, record] : records_) WriteRecord(path, record);
}

void AlbumImages::ExpectAlbumImages(const gallery::AlbumPaths& paths,
                                    const std::vector<gallery::AlbumImageJob>& jobs) {
    if (!jobs.empty()) return;
    // The album is done with the folder.
    const std::string recordPath = paths.largeThumbnailFolder + std::string(kAlbumRecordName);
    const std::scoped_lock lock(mutex_);
    const auto found = records_.find(recordPath);
    if (found == records_.end()) return;
    WriteRecord(found->first, found->second);
    records_.erase(found);
}

AlbumImages::Record& AlbumImages::RecordOf(const std::string& recordPath) {
    const auto [found, added] = records_.try_emplace(recordPath);
    if (!added) return found->second;
    Record& record = found->second;
    try {
        if (KindAt(recordPath) == EntryKind::PlainFile) {
            const std::vector<std::uint8_t> bytes = ReadFileStart(recordPath, kMostRecordBytes);
            record.text.assign(bytes.begin(), bytes.end());
            if (bytes.size() < kMostRecordBytes) {
                if (std::optional<gallery::SiteRecord> read =
                        gallery::ParseSiteRecord(record.text)) {
                    record.read = std::move(*read);
                }
            }
        }
    } catch (const Fault&) {
        // No record to go by: every picture's metadata is read.
    }
    return record;
}

void AlbumImages::WriteRecord(const std::string& recordPath, const Record& record) noexcept {
    // Of no use to anyone but the next run: a record that cannot be written
    // (no folder of tiles, a full disk) only costs that run its reading.
    try {
        if (record.made.empty()) return;
        const std::string text = gallery::FormatSiteRecord(record.made);
        if (text == record.text) return;
        const std::string folder =
            recordPath.substr(0, recordPath.size() - kAlbumRecordName.size());
        if (KindAt(folder) != EntryKind::Folder) return;
        ReplaceFileWhole(recordPath,
                         {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    } catch (const std::exception&) {
    }
}

// What the album shows of a picture beside its images: its date taken, its
// caption and its camera details, from one read of its metadata or from the
// record when the picture is as recorded, and its file's time.
void AlbumImages::AddMetadata(const std::string& strFileName, const std::string& strName,
                              const gallery::AlbumPaths& paths, gallery::AlbumRemake remake,
                              gallery::AlbumPicture& album) {
    // Taken before the reading: a picture changed meanwhile is read again
    // next time.
    const std::optional<FileStamp> stamp = StampOf(strFileName);
    if (stamp) album.modifiedNs = stamp->modifiedNs;
    const std::string recordPath = paths.largeThumbnailFolder + std::string(kAlbumRecordName);
    if (remake != gallery::AlbumRemake::All && stamp) {
        const std::scoped_lock lock(mutex_);
        Record& record = RecordOf(recordPath);
        const auto found = record.read.find(strName);
        if (found != record.read.end() && found->second.stamp == *stamp && found->second.caption &&
            found->second.details) {
            const gallery::SiteEntry& entry = found->second;
            album.dateTaken = entry.dateTaken;
            album.dateOffset = entry.dateOffset;
            album.caption = *entry.caption;
            album.details = *entry.details;
            record.made[strName] = entry;
            return;
        }
    }
    ReadMetadataFields(strFileName, album);
    RecordMetadata(paths, strName, stamp, album);
}

void AlbumImages::RecordMetadata(const gallery::AlbumPaths& paths, const std::string& strName,
                                 const std::optional<FileStamp>& stamp,
                                 const gallery::AlbumPicture& album) {
    if (!stamp) return;
    const std::string recordPath = paths.largeThumbnailFolder + std::string(kAlbumRecordName);
    gallery::SiteEntry entry;
    entry.source = strName;
    entry.stamp = *stamp;
    entry.key = "metadata";
    entry.dateTaken = album.dateTaken;
    entry.dateOffset = album.dateOffset;
    entry.caption = album.caption;
    entry.details = album.details;
    const std::scoped_lock lock(mutex_);
    RecordOf(recordPath).made[strName] = std::move(entry);
}

gallery::AlbumPicture AlbumImages::MakeAlbumImages(
    const std::string& strFileName, const std::string& strName, const gallery::AlbumPaths& paths,
    gallery::AlbumRemake remake, std::int32_t lThumbSize, gallery::AlbumImageCounts& counts) {
    const auto addMetadata = [&](gallery::AlbumPicture& album) {
        AddMetadata(strFileName, strName, paths, remake, album);
    };
    if (gallery::IsAlbumOnlyPictureName(strName)) {
        return MakeOwnImages(strFileName, strName, paths, remake, lThumbSize, counts, addMetadata);
    }
    if (remake == gallery::AlbumRemake::All) {
        if (std::optional<Ahead> ahead = TakeAhead(strFileName, lThumbSize)) {
            return WriteAhead(*ahead, strFileName, strName, paths, counts);
        }
    }
    const picture::PictureSize size = picture::ReadPictureSize(strFileName);
    gallery::AlbumPicture album = GalleryPictureAlbum(strName, size, lThumbSize);
    addMetadata(album);

    const ImagePlan plan = PlanImages(strFileName, strName, paths, remake, album, counts);
    if (!plan.Any()) return album;

    // The picture is decoded straight to the first image it gives: the
    // preview, or the 2x tile when it needs none (DecodeByArea holds no
    // more of a bitmap or a GIF than that image). The tiles are shrunk from
    // the preview: the same result as from the picture to within rounding,
    // at a fraction of the work.
    const bool previewed = album.preview.has_value();
    const gallery::PixelSize first = previewed ? *album.preview : *album.largeThumbnail;
    const PixelRows rows = imaging::DecodeByArea(strFileName, first.width, first.height);
    WriteImages(rows, previewed, plan, album, counts);
    return album;
}

std::size_t AlbumImages::Ahead::Bytes() const {
    std::size_t bytes = 0;
    for (const std::optional<jpeg::JpegBytes>* image : {&preview, &large, &small}) {
        if (*image) bytes += (*image)->Bytes().size();
    }
    return bytes;
}

bool AlbumImages::MakeAhead(const std::string& strFileName, std::int32_t lThumbSize,
                            const picture::SampledPixels& sampled, PixelRows& rows) {
    {
        const std::scoped_lock lock(mutex_);
        if (aheadBytes_ >= kMostHeldAheadBytes || ahead_.contains(strFileName)) return false;
    }
    // Nothing shown: a picture that has anything to say is left to the album.
    std::vector<detail::Shown> shown;
    detail::ShownRecorder recorder(shown);
    const ui::ScopedThreadHost host(recorder);
    picture::SampledLines lines(sampled, rows);
    WholeLines whole(lines);
    Ahead ahead;
    ahead.lThumbSize = lThumbSize;
    try {
        // As MakeAlbumImages makes them with "All".
        const picture::PictureSize size = picture::ReadPictureSize(strFileName);
        ahead.album = GalleryPictureAlbum({}, size, lThumbSize);
        ahead.stamp = StampOf(strFileName);
        if (ahead.stamp) ahead.album.modifiedNs = ahead.stamp->modifiedNs;
        ReadMetadataFields(strFileName, ahead.album);
        const gallery::AlbumPicture& album = ahead.album;
        const bool previewed = album.preview.has_value();
        const gallery::PixelSize first = previewed ? *album.preview : *album.largeThumbnail;
        const PixelRows decoded =
            imaging::DecodeByArea(strFileName, first.width, first.height, &whole);
        PixelRows shrunk;
        if (previewed) {
            ahead.preview = EncodeAlbumJpeg(decoded, kAlbumPreviewQuality);
            shrunk = imaging::ResizeByArea(decoded, album.largeThumbnail->width,
                                           album.largeThumbnail->height);
        }
        const PixelRows& largeRows = previewed ? shrunk : decoded;
        ahead.large = EncodeAlbumJpeg(largeRows, kAlbumThumbnailQuality);
        ahead.small = EncodeAlbumJpeg(imaging::ResizeByArea(largeRows, album.smallThumbnail->width,
                                                            album.smallThumbnail->height),
                                      kAlbumThumbnailQuality);
    } catch (const std::exception&) {
        return false;
    }
    if (!shown.empty()) return false;
    const std::scoped_lock lock(mutex_);
    aheadBytes_ += ahead.Bytes();
    ahead_.insert_or_assign(strFileName, std::move(ahead));
    return lines.Complete();
}

void AlbumImages::DropAhead() {
    const std::scoped_lock lock(mutex_);
    ahead_.clear();
    aheadBytes_ = 0;
}

std::optional<AlbumImages::Ahead> AlbumImages::TakeAhead(const std::string& strFileName,
                                                         std::int32_t lThumbSize) {
    std::optional<Ahead> ahead;
    {
        const std::scoped_lock lock(mutex_);
        const auto found = ahead_.find(strFileName);
        if (found == ahead_.end()) return std::nullopt;
        aheadBytes_ -= found->second.Bytes();
        ahead = std::move(found->second);
        ahead_.erase(found);
    }
    // A picture changed since is made again.
    if (ahead->lThumbSize != lThumbSize || StampOf(strFileName) != ahead->stamp)
        return std::nullopt;
    return ahead;
}

gallery::AlbumPicture AlbumImages::WriteAhead(Ahead& ahead, const std::string& strFileName,
                                              const std::string& strName,
                                              const gallery::AlbumPaths& paths,
                                              gallery::AlbumImageCounts& counts) {
    gallery::AlbumPicture album = std::move(ahead.album);
    album.name = strName;
    RecordMetadata(paths, strName, ahead.stamp, album);
    const ImagePlan plan =
        PlanImages(strFileName, strName, paths, gallery::AlbumRemake::All, album, counts);
    if (ahead.preview && !WriteAlbumJpegBytes(*ahead.preview, plan.previewPath, counts)) {
        album.preview.reset();
    }
    if (!WriteAlbumJpegBytes(*ahead.large, plan.largePath, counts)) album.largeThumbnail.reset();
    if (!WriteAlbumJpegBytes(*ahead.small, plan.smallPath, counts)) album.smallThumbnail.reset();
    return album;
}

}  // namespace fotolane::thumbnails
