#include "gallery/Site.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <set>
#include <span>
#include <utility>

#include "gallery/GalleryPaths.h"
#include "gallery/GalleryRun.h"
#include "gallery/PictureNames.h"
#include "gallery/WarningRecorder.h"
#include "platform/core/Paths.h"
#include "platform/files/WholeFile.h"

namespace fotolane::gallery {
namespace {

constexpr std::string_view kRecordHeader = "fotolane-site 3";
// The earlier versions' records, of fewer fields: the first without the
// caption and the details, the second without the details.
constexpr std::string_view kFirstRecordHeader = "fotolane-site 1";
constexpr std::string_view kSecondRecordHeader = "fotolane-site 2";
constexpr std::size_t kRecordFields = 15;
constexpr std::size_t kFirstRecordFields = 8;
constexpr std::size_t kSecondRecordFields = 9;
constexpr std::string_view kPageName = "index.html";
// Pictures made between two records written on the way, so that a long
// first run that is killed keeps most of its work.
constexpr std::size_t kPicturesBetweenRecords = 100;

// ---- The record's text --------------------------------------------------

std::string Escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::optional<std::string> Unescaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        switch (text[i]) {
            case '\\':
                out += '\\';
                break;
            case 't':
                out += '\t';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                return std::nullopt;
        }
    }
    return out;
}

template <typename Number>
bool ReadNumber(std::string_view text, Number& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

std::string SizeText(PixelSize size) {
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

bool ReadSize(std::string_view text, PixelSize& size) {
    const std::size_t x = text.find('x');
    return x != std::string_view::npos && ReadNumber(text.substr(0, x), size.width) &&
           ReadNumber(text.substr(x + 1), size.height);
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string_view::npos) return fields;
        start = tab + 1;
    }
}

// ---- Paths --------------------------------------------------------------

std::string Join(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

std::string ParentOf(const std::string& relative) {
    const std::size_t slash = relative.rfind('/');
    return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

std::string LastPart(const std::string& path) {
    const std::size_t slash = path.rfind(kPathSeparator);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::span<const std::uint8_t> BytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// ---- One run --------------------------------------------------------------

enum class Kind { Thumbnail, Large, Small, Preview, Original };

struct Target {
    Kind kind;
    std::string file;  // relative to the site
    bool current = false;
    bool foreign = false;  // a file of the site's owner stands there
};

struct PlannedPicture {
    std::string name;
    std::string source;    // relative to the picture folder
    std::string fullPath;  // the picture's
    FileStamp stamp;
    std::vector<Target> targets;
    bool needsWork = false;
    bool skipped = false;
    bool pictureKnown = false;  // from the record: no need to read it
    PixelSize pictureSize;
    std::string dateTaken;
    std::string dateOffset;
    std::string caption;
    CameraDetails details;
};

struct PlannedFolder {
    std::string path;      // absolute
    std::string relative;  // "" for the top
    std::vector<PlannedPicture> pictures;
    // Could not be listed, or its page written: its published files stay as
    // they are, and no album links it.
    bool failed = false;
};

class SiteRun {
  public:
    SiteRun(const SiteOptions& options, ISiteImages& images, ISiteView& view)
        : options_(options), images_(images), view_(view) {}

    SiteOutcome Run();

  private:
    std::string SitePath(const std::string& relative) const {
        return relative.empty() ? options_.output : options_.output + "/" + relative;
    }
    std::string KeyOf(Kind kind) const;
    bool IsCurrent(const std::string& file, const std::string& key, const FileStamp& stamp) const;
    void Plan();
    void PlanPicture(PlannedFolder& folder, const std::string& name);
    void MarkToBeMade(PlannedPicture& picture);
    void MarkToBeMade(const PlannedPicture& picture, Target& target);
    // The work a picture needs, its site folders made.
    SitePictureJob JobOf(const PlannedPicture& picture);
    void MakePicture(PlannedPicture& picture);
    void MakeFolders(const std::string& relative);
    void WriteRecord();
    void WritePage(const std::string& folder, const std::string& file, const std::string& page);
    // What a page shows of its album, for the page above it.
    struct ShownAlbum {
        std::optional<std::int64_t> earliest;
        std::optional<AlbumCover> cover;
        std::int32_t pictures = 0;
    };
    std::optional<std::string> PageOf(const PlannedFolder& folder,
                                      const std::vector<AlbumChild>& below, bool parent,
                                      ShownAlbum* shown = nullptr) const;
    void WritePages(bool missingOnly = false);
    void WritePagesSoFar();
    void RemoveDeparted();
    std::optional<AlbumPicture> PagePicture(const PlannedPicture& picture) const;

    const SiteOptions& options_;
    ISiteImages& images_;
    ISiteView& view_;
    SiteOutcome outcome_;
    SiteRecord record_;    // what is on the disk now, or being made
    std::string written_;  // the record's text last written
    std::vector<PlannedFolder> folders_;
    std::set<std::string> wanted_;       // files this run's site holds
    std::set<std::string> madeFolders_;  // site folders checked this run
};

std::string SiteRun::KeyOf(Kind kind) const {
    const std::string size = std::to_string(options_.thumbSize);
    switch (kind) {
        case Kind::Thumbnail:
            return "thumbnail " + size;
        case Kind::Large:
            // The album's own height, whatever the gallery's size.
            return "large " + std::to_string(kAlbumThumbnailHeight) + " high";
        case Kind::Small:
            return "tile " + std::to_string(kAlbumSmallThumbnailHeight) + " high";
        case Kind::Preview:
            return options_.originals ? "preview" : "preview always";
        case Kind::Original:
            return options_.keepLocation ? "original with location" : "original";
    }
    return {};
}

bool SiteRun::IsCurrent(const std::string& file, const std::string& key,
                        const FileStamp& stamp) const {
    const auto entry = record_.find(file);
    if (entry == record_.end() || entry->second.key != key || !(entry->second.stamp == stamp)) {
        return false;
    }
    try {
        return KindAt(SitePath(file)) == EntryKind::PlainFile;
    } catch (const Fault&) {
        return false;
    }
}

void SiteRun::PlanPicture(PlannedFolder& folder, const std::string& name) {
    PlannedPicture picture;
    picture.name = name;
    picture.source = Join(folder.relative, name);
    picture.fullPath = PathInFolder(folder.path, name);
    const std::optional<FileStamp> stamp = StampOf(picture.fullPath);
    if (!stamp) return;  // gone since the listing
    picture.stamp = *stamp;
    const std::string image = AlbumImageName(name);
    const std::string thumbnail =
        Join(folder.relative, std::string(kThumbnailFolder) + "/" + image);
    const std::string large =
        Join(folder.relative, std::string(kLargeThumbnailFolder) + "/" + image);
    const std::string small =
        Join(folder.relative, std::string(kSmallThumbnailFolder) + "/" + image);
    const std::string preview = Join(folder.relative, std::string(kPreviewFolder) + "/" + image);
    picture.targets.push_back({Kind::Thumbnail, thumbnail});
    picture.targets.push_back({Kind::Large, large});
    picture.targets.push_back({Kind::Small, small});
    // Whether a preview is wanted depends on the picture's size: known from
    // the record while the picture is unchanged, else read when it is made.
    const auto known = record_.find(thumbnail);
    // A record of an earlier version kept no caption or no details: the
    // picture is read again, once, for them.
    if (known != record_.end() && known->second.stamp == picture.stamp &&
        !known->second.key.empty() && known->second.caption && known->second.details) {
        picture.pictureKnown = true;
        picture.pictureSize = known->second.pictureSize;
        picture.dateTaken = known->second.dateTaken;
        picture.dateOffset = known->second.dateOffset;
        picture.caption = *known->second.caption;
        picture.details = *known->second.details;
    }
    // A picture needs one whatever its size when browsers do not show it (a
    // HEIC), or when its original cannot be published: a preview made for
    // that is wanted while it is current.
    const bool previewWanted =
        !options_.originals || !picture.pictureKnown ||
        std::max(picture.pictureSize.width, picture.pictureSize.height) > kPreviewSide ||
        AlbumOnlyFormatOfName(name) == AlbumOnlyFormat::Heic ||
        IsCurrent(preview, KeyOf(Kind::Preview), picture.stamp);
    if (previewWanted) picture.targets.push_back({Kind::Preview, preview});
    if (options_.originals)
        picture.targets.push_back({Kind::Original, Join(folder.relative, name)});
    for (Target& target : picture.targets) {
        target.current = IsCurrent(target.file, KeyOf(target.kind), picture.stamp);
        if (target.current) {
            ++outcome_.images.kept;
        } else {
            picture.needsWork = true;
        }
    }
    if (!picture.pictureKnown) picture.needsWork = true;
    folder.pictures.push_back(std::move(picture));
}

void SiteRun::Plan() {
    for (const std::string& path : options_.folders) {
        PlannedFolder folder;
        folder.path = path;
        folder.relative = path.size() > options_.source.size()
                              ? path.substr(options_.source.size() + 1)
                              : std::string();
        try {
            FolderListing listing;
            for (std::string name = listing.First(path, IsAlbumPictureName); !name.empty();
                 name = listing.Next()) {
                PlanPicture(folder, name);
            }
        } catch (const Fault& fault) {
            if (!options_.keepGoing) throw;
            folder.failed = true;
            folder.pictures.clear();
            outcome_.skipped.push_back(fault);
            view_.ShowSkipped(fault);
        }
        outcome_.pictures += static_cast<std::int32_t>(folder.pictures.size());
        folders_.push_back(std::move(folder));
    }
    outcome_.folders = static_cast<std::int32_t>(folders_.size());
}

void SiteRun::MakeFolders(const std::string& relative) {
    if (relative.empty() || madeFolders_.contains(relative)) return;
    MakeFolders(ParentOf(relative));
    const std::string path = SitePath(relative);
    if (KindAt(path) == EntryKind::None) {
        try {
            CreateFolder(path);
        } catch (const Fault&) {
            // Shown by the look below, or by the first file written there.
        }
    }
    if (std::optional<Fault> fault = NotOwnFolderFault(path, "site's folder")) throw *fault;
    RemoveLeftoverTemporaries(path);
    madeFolders_.insert(relative);
}

void SiteRun::MarkToBeMade(const PlannedPicture& picture, Target& target) {
    const auto entry = record_.find(target.file);
    if (entry == record_.end() && KindAt(SitePath(target.file)) != EntryKind::None) {
        // Never over a file of the site's owner.
        target.foreign = true;
        ui::Warn("Not the site's own file, left as it is", SitePath(target.file));
        return;
    }
    SiteEntry& marked = record_[target.file];
    marked.source = picture.source;
    marked.key.clear();
}

void SiteRun::MarkToBeMade(PlannedPicture& picture) {
    for (Target& target : picture.targets) {
        if (!target.current) MarkToBeMade(picture, target);
    }
}

SitePictureJob SiteRun::JobOf(const PlannedPicture& picture) {
    SitePictureJob job;
    job.path = picture.fullPath;
    job.thumbSize = options_.thumbSize;
    job.previewAlways = !options_.originals;
    job.keepLocation = options_.keepLocation;
    SiteImageTargets& targets = job.targets;
    bool imagesToMake = false;
    for (const Target& target : picture.targets) {
        if (target.current || target.foreign) continue;
        MakeFolders(ParentOf(target.file));
        const std::string path = SitePath(target.file);
        switch (target.kind) {
            case Kind::Thumbnail:
                targets.thumbnail = path;
                break;
            case Kind::Large:
                targets.large = path;
                break;
            case Kind::Small:
                targets.small = path;
                break;
            case Kind::Preview:
                targets.preview = path;
                break;
            case Kind::Original:
                job.original = path;
                continue;
        }
        imagesToMake = true;
    }
    job.images = imagesToMake || !picture.pictureKnown;
    return job;
}

void SiteRun::MakePicture(PlannedPicture& picture) {
    const SitePictureJob job = JobOf(picture);
    const SiteImageTargets& targets = job.targets;
    const bool imagesToMake = !targets.thumbnail.empty() || !targets.large.empty() ||
                              !targets.small.empty() || !targets.preview.empty();
    const std::optional<std::string>& original = job.original;
    SitePictureMade result = images_.MakeSitePicture(job, outcome_.images);
    SitePictureImages& made = result.images;
    if (job.images) {
        picture.pictureSize = made.picture;
        picture.dateTaken = made.dateTaken;
        picture.dateOffset = made.dateOffset;
        picture.caption = made.caption;
        picture.details = made.details;
        picture.pictureKnown = true;
        // The files kept as they are record what was read as well.
        for (const Target& target : picture.targets) {
            if (!target.current) continue;
            SiteEntry& kept = record_.at(target.file);
            kept.dateTaken = picture.dateTaken;
            kept.dateOffset = picture.dateOffset;
            kept.caption = picture.caption;
            kept.details = picture.details;
        }
    }
    // An original that cannot be published (a location that cannot be
    // removed) is offered as its preview instead, made however small the
    // picture is.
    const std::optional<Fault>& refused = result.refused;
    if (refused) {
        auto preview =
            std::find_if(picture.targets.begin(), picture.targets.end(),
                         [](const Target& target) { return target.kind == Kind::Preview; });
        if (preview == picture.targets.end()) {
            picture.targets.push_back(
                {Kind::Preview, Join(ParentOf(picture.source), std::string(kPreviewFolder) + "/" +
                                                                   AlbumImageName(picture.name))});
            preview = std::prev(picture.targets.end());
            MarkToBeMade(picture, *preview);
            WriteRecord();
        }
        // Not again when it was made above and its write failed.
        const bool previewFailed = made.preview && !targets.preview.empty();
        if (!preview->current && !preview->foreign && !made.previewWritten && !previewFailed) {
            MakeFolders(ParentOf(preview->file));
            SiteImageTargets previewOnly;
            previewOnly.preview = SitePath(preview->file);
            const SitePictureImages previewMade = images_.MakeSiteImages(
                picture.fullPath, previewOnly, options_.thumbSize, true, outcome_.images);
            made.preview = previewMade.preview;
            made.previewWritten = previewMade.previewWritten;
        }
    }
    const auto entryOf = [&](PixelSize size, const std::string& key) {
        return SiteEntry{picture.source,
                         picture.stamp,
                         key,
                         size,
                         picture.pictureSize,
                         picture.dateTaken,
                         picture.caption,
                         picture.details,
                         picture.dateOffset};
    };
    for (Target& target : picture.targets) {
        if (target.current) continue;
        const std::string key = KeyOf(target.kind);
        switch (target.kind) {
            case Kind::Thumbnail:
                target.current = made.thumbnailWritten;
                if (target.current) record_[target.file] = entryOf(made.thumbnail, key);
                break;
            case Kind::Large:
                target.current = made.largeWritten;
                if (target.current) record_[target.file] = entryOf(made.large, key);
                break;
            case Kind::Small:
                target.current = made.smallWritten;
                if (target.current) record_[target.file] = entryOf(made.small, key);
                break;
            case Kind::Preview:
                target.current = made.previewWritten;
                if (target.current) record_[target.file] = entryOf(*made.preview, key);
                break;
            case Kind::Original:
                if (!original) break;
                if (!refused) {
                    ++outcome_.images.made;
                    target.current = true;
                    record_[target.file] = entryOf(picture.pictureSize, key);
                } else {
                    // Never the photo as it is when its location was to go:
                    // the page offers the preview instead.
                    ++outcome_.images.failed;
                    ui::Warn(refused->Message(),
                             refused->Path().empty() ? *original : refused->Path());
                }
                break;
        }
    }
    // A small picture needs no preview after all.
    if (imagesToMake && !made.preview && options_.originals && !refused) {
        std::erase_if(picture.targets, [](const Target& target) {
            return target.kind == Kind::Preview && !target.current;
        });
    }
}

std::optional<AlbumPicture> SiteRun::PagePicture(const PlannedPicture& picture) const {
    AlbumPicture shown;
    shown.name = picture.name;
    shown.siteFiles = true;
    // Without its preview a HEIC is shown by its high-density thumbnail.
    shown.browsersShow = AlbumOnlyFormatOfName(picture.name) != AlbumOnlyFormat::Heic;
    shown.dateTaken = picture.dateTaken;
    shown.dateOffset = picture.dateOffset;
    shown.caption = picture.caption;
    shown.details = picture.details;
    shown.modifiedNs = picture.stamp.modifiedNs;
    shown.hasThumbnail = false;
    shown.hasOriginal = false;
    for (const Target& target : picture.targets) {
        if (!target.current) continue;
        const SiteEntry& entry = record_.at(target.file);
        switch (target.kind) {
            case Kind::Thumbnail:
                shown.hasThumbnail = true;
                shown.thumbnail = entry.size;
                break;
            case Kind::Large:
                shown.largeThumbnail = entry.size;
                break;
            case Kind::Small:
                shown.smallThumbnail = entry.size;
                break;
            case Kind::Preview:
                shown.preview = entry.size;
                break;
            case Kind::Original:
                shown.hasOriginal = true;
                break;
        }
    }
    if (!shown.hasThumbnail && !shown.largeThumbnail && !shown.smallThumbnail) {
        return std::nullopt;
    }
    if (!shown.hasThumbnail) {
        // The slot keeps the thumbnail's size, about the 1x tile's.
        shown.thumbnail = shown.smallThumbnail
                              ? *shown.smallThumbnail
                              : PixelSize{std::max(1, shown.largeThumbnail->width / 2),
                                          std::max(1, shown.largeThumbnail->height / 2)};
    }
    return shown;
}

void SiteRun::WriteRecord() {
    const std::string text = FormatSiteRecord(record_);
    if (text == written_) return;
    ReplaceFileWhole(SitePath(std::string(kSiteRecordName)), BytesOf(text));
    written_ = text;
}

void SiteRun::WritePage(const std::string& folder, const std::string& file,
                        const std::string& page) {
    MakeFolders(folder);
    const std::string path = SitePath(file);
    bool same = false;
    try {
        same = record_.contains(file) && KindAt(path) == EntryKind::PlainFile &&
               ReadWholeFile(path) == page;
    } catch (const Fault&) {
        // Written anew below.
    }
    if (same) return;
    if (!record_.contains(file) && KindAt(path) != EntryKind::None) {
        throw Fault("Not the site's own file, left as it is", path);
    }
    record_[file] = SiteEntry{folder, {}, "page", {}, {}, {}, std::string(), CameraDetails(), {}};
    WriteRecord();
    ReplaceFileWhole(path, BytesOf(page));
}

// The album page of `folder` as it stands now: its pictures whose files
// are there, the albums `below` it; none when it would show nothing.
std::optional<std::string> SiteRun::PageOf(const PlannedFolder& folder,
                                           const std::vector<AlbumChild>& below, bool parent,
                                           ShownAlbum* shown) const {
    std::vector<AlbumPicture> pictures;
    for (const PlannedPicture& picture : folder.pictures) {
        if (picture.skipped) continue;
        if (std::optional<AlbumPicture> onPage = PagePicture(picture)) {
            pictures.push_back(std::move(*onPage));
        }
    }
    if (pictures.empty() && below.empty()) return std::nullopt;
    SortAlbumPictures(pictures, options_.sort);
    AlbumLinks links;
    links.parent = parent;
    links.children = below;
    if (shown != nullptr) {
        *shown = {EarliestSortKey(pictures), AlbumCoverOf(pictures, links),
                  static_cast<std::int32_t>(pictures.size())};
    }
    const std::string title =
        options_.title ? *options_.title : MakeGalleryPaths(folder.path).folderName + " Gallery";
    return AlbumHtml(title, pictures, links, options_.originals);
}

// With `missingOnly`, only the pages that are not there yet are written;
// the others stand as they are and are linked as they are.
void SiteRun::WritePages(bool missingOnly) {
    // From the last folder up: a folder's children are known before it.
    std::map<std::string, std::vector<AlbumChild>> children;
    // The earliest picture of each album below a folder, by folder and name.
    std::map<std::string, std::map<std::string, std::int64_t>> earliestBelow;
    std::vector<PlannedFolder*> linkingUp;  // pages written with a link to their parent's
    for (auto folder = folders_.rbegin(); folder != folders_.rend(); ++folder) {
        if (folder->failed) continue;
        std::vector<AlbumChild>& below = children[folder->relative];
        const std::map<std::string, std::int64_t>& belowEarliest = earliestBelow[folder->relative];
        SortAlbumLinks(below, belowEarliest, options_.sort);
        const bool top = folder + 1 == folders_.rend();
        ShownAlbum shown;
        const std::optional<std::string> page = PageOf(*folder, below, !top, &shown);
        if (!page) continue;
        const std::string file = Join(folder->relative, std::string(kPageName));
        try {
            if (!missingOnly || !record_.contains(file) ||
                KindAt(SitePath(file)) != EntryKind::PlainFile) {
                WritePage(folder->relative, file, *page);
            }
        } catch (const Fault& fault) {
            // Keeping going, a folder whose page cannot be written is left
            // out: its parent does not link it.
            if (!options_.keepGoing) throw;
            folder->failed = true;
            outcome_.skipped.push_back(fault);
            view_.ShowSkipped(fault);
            continue;
        }
        wanted_.insert(file);
        if (!top) {
            children[ParentOf(folder->relative)].push_back(
                AlbumChildOf(LastPart(folder->path), shown.cover, shown.pictures));
            linkingUp.push_back(&*folder);
            std::optional<std::int64_t>& earliest = shown.earliest;
            for (const auto& [name, key] : belowEarliest) {
                if (!earliest || key < *earliest) earliest = key;
            }
            if (earliest)
                earliestBelow[ParentOf(folder->relative)][LastPart(folder->path)] = *earliest;
        }
    }
    // The pages below a folder whose own page failed lead up to nothing:
    // they are written again without that link.
    for (PlannedFolder* folder : linkingUp) {
        if (wanted_.contains(Join(ParentOf(folder->relative), std::string(kPageName)))) continue;
        const std::string file = Join(folder->relative, std::string(kPageName));
        WritePage(folder->relative, file, *PageOf(*folder, children[folder->relative], false));
    }
}

void SiteRun::RemoveDeparted() {
    std::set<std::string> keptFolders;  // folders whose files stay whatever they are
    for (const PlannedFolder& folder : folders_) {
        if (folder.failed) keptFolders.insert(folder.relative);
    }
    const auto inKeptFolder = [&keptFolders](const std::string& file) {
        for (std::string folder = ParentOf(file);; folder = ParentOf(folder)) {
            // The image folders belong to the folder above them.
            if (keptFolders.contains(folder)) return true;
            if (folder.empty()) return false;
        }
    };
    std::set<std::string> emptied;
    for (auto entry = record_.begin(); entry != record_.end();) {
        const std::string& file = entry->first;
        if (wanted_.contains(file) || inKeptFolder(file)) {
            ++entry;
            continue;
        }
        const std::string path = SitePath(file);
        try {
            if (KindAt(path) == EntryKind::PlainFile) {
                RemoveFile(path);
                ++outcome_.removed;
            }
        } catch (const Fault& fault) {
            ui::Warn("Failed to remove", fault.Path());
            ++entry;
            continue;
        }
        emptied.insert(ParentOf(file));
        entry = record_.erase(entry);
    }
    // The folders left empty, deepest first; the site's top stays.
    std::set<std::string> tried;
    for (auto folder = emptied.rbegin(); folder != emptied.rend(); ++folder) {
        for (std::string level = *folder; !level.empty() && !tried.contains(level);
             level = ParentOf(level)) {
            tried.insert(level);
            if (!RemoveEmptyFolder(SitePath(level))) break;
        }
    }
}

// After a stop or a fault: a site made for the first time gets the pages
// of the pictures whose files are there, so that what was made can be seen
// at once; pages of an earlier run stay (they link files still there) until
// a run completes. A page that cannot be written now is left to that run.
void SiteRun::WritePagesSoFar() {
    try {
        WritePages(/*missingOnly=*/true);
        WriteRecord();
    } catch (const std::exception&) {
        // The run's own end is what is told.
    }
}

SiteOutcome SiteRun::Run() {
    WarningRecorder recorder(outcome_.warnings);
    try {
        const std::string recordPath = SitePath(std::string(kSiteRecordName));
        if (KindAt(recordPath) != EntryKind::None) {
            written_ = ReadWholeFile(recordPath);
            std::optional<SiteRecord> record = ParseSiteRecord(written_);
            if (!record) throw Fault("The site's record cannot be read", recordPath);
            record_ = std::move(*record);
        }
        RemoveLeftoverTemporaries(options_.output);
        Plan();
        SiteProgress progress;
        progress.folders = folders_.size();
        progress.pictures = static_cast<std::size_t>(outcome_.pictures);
        for (const PlannedFolder& folder : folders_) {
            for (const PlannedPicture& picture : folder.pictures) {
                if (picture.needsWork) ++progress.toMake;
            }
        }
        // Every file about to be made is in the record before it is
        // written, so that a killed run's files are known to the next one.
        for (PlannedFolder& folder : folders_) {
            for (PlannedPicture& picture : folder.pictures) {
                if (picture.needsWork) MarkToBeMade(picture);
            }
        }
        WriteRecord();
        std::size_t sinceRecord = 0;
        bool stopped = false;
        // A folder's pictures are announced as it begins, so that they may
        // be made ahead; a fault of a picture's folders is told when its
        // turn comes.
        struct Announced {
            ISiteImages& images;
            ~Announced() { images.ExpectSitePictures({}); }
        };
        const Announced announced{images_};
        for (std::size_t f = 0; f < folders_.size() && !stopped; ++f) {
            PlannedFolder& folder = folders_[f];
            progress.folder = f + 1;
            std::vector<SitePictureJob> jobs;
            for (const PlannedPicture& picture : folder.pictures) {
                if (!picture.needsWork) continue;
                try {
                    jobs.push_back(JobOf(picture));
                } catch (const Fault&) {
                    // MakePicture meets it again.
                }
            }
            images_.ExpectSitePictures(jobs);
            for (PlannedPicture& picture : folder.pictures) {
                ++progress.picture;
                if (picture.needsWork) {
                    if (view_.StopRequested()) {
                        stopped = true;
                        break;
                    }
                    progress.name = picture.source;
                    view_.ShowProgress(progress);
                    if (++sinceRecord >= kPicturesBetweenRecords) {
                        WriteRecord();
                        sinceRecord = 0;
                    }
                    try {
                        MakePicture(picture);
                    } catch (const Fault& fault) {
                        if (!options_.keepGoing) throw;
                        picture.skipped = true;
                        outcome_.skipped.push_back(fault.Naming(picture.fullPath));
                        view_.ShowSkipped(outcome_.skipped.back());
                    }
                    ++progress.made;
                }
                for (const Target& target : picture.targets) {
                    if (!target.foreign) wanted_.insert(target.file);
                }
            }
        }
        // Nothing more ahead: a stop leaves no picture under way while the
        // pages are written.
        images_.ExpectSitePictures({});
        WriteRecord();
        if (stopped) {
            outcome_.end = RunEnd::Stopped;
            WritePagesSoFar();
            return outcome_;
        }
        WritePages();
        WriteRecord();
        RemoveDeparted();
        WriteRecord();
    } catch (const std::exception&) {
        outcome_.end = RunEnd::Failed;
        outcome_.fault = Fault::OfCurrentException();
        try {
            WriteRecord();
        } catch (const std::exception&) {
            // The earlier record stays; the fault above is the one told.
        }
        if (!folders_.empty()) WritePagesSoFar();
    }
    return outcome_;
}

}  // namespace

bool SitePictureJob::operator==(const SitePictureJob& other) const {
    const auto same = [](const SiteImageTargets& a, const SiteImageTargets& b) {
        return a.thumbnail == b.thumbnail && a.large == b.large && a.small == b.small &&
               a.preview == b.preview;
    };
    return path == other.path && images == other.images && same(targets, other.targets) &&
           thumbSize == other.thumbSize && previewAlways == other.previewAlways &&
           original == other.original && keepLocation == other.keepLocation;
}

SitePictureMade ISiteImages::MakeSitePicture(const SitePictureJob& job, AlbumImageCounts& counts) {
    SitePictureMade made;
    if (job.images) {
        made.images =
            MakeSiteImages(job.path, job.targets, job.thumbSize, job.previewAlways, counts);
    }
    if (job.original) {
        try {
            PublishOriginal(job.path, *job.original, job.keepLocation);
        } catch (const Fault& fault) {
            made.refused = fault;
        }
    }
    return made;
}

std::string FormatSiteRecord(const SiteRecord& record) {
    std::string text(kRecordHeader);
    text += '\n';
    for (const auto& [file, entry] : record) {
        text += Escaped(file) + '\t' + Escaped(entry.source) + '\t' +
                std::to_string(entry.stamp.bytes) + '\t' + std::to_string(entry.stamp.modifiedNs) +
                '\t' + Escaped(entry.key) + '\t' + SizeText(entry.size) + '\t' +
                SizeText(entry.pictureSize) + '\t' + Escaped(entry.dateTaken + entry.dateOffset) +
                '\t' + Escaped(entry.caption.value_or(std::string()));
        const CameraDetails details = entry.details.value_or(CameraDetails());
        for (const std::string* field : {&details.camera, &details.lens, &details.focalLength,
                                         &details.aperture, &details.exposure, &details.iso}) {
            text += '\t' + Escaped(*field);
        }
        text += '\n';
    }
    return text;
}

std::optional<SiteRecord> ParseSiteRecord(std::string_view text) {
    std::string_view header = kRecordHeader;
    std::size_t fieldCount = kRecordFields;
    if (text.starts_with(kFirstRecordHeader)) {
        header = kFirstRecordHeader;
        fieldCount = kFirstRecordFields;
    } else if (text.starts_with(kSecondRecordHeader)) {
        header = kSecondRecordHeader;
        fieldCount = kSecondRecordFields;
    }
    if (!text.starts_with(header) || text.size() == header.size() || text[header.size()] != '\n') {
        return std::nullopt;
    }
    SiteRecord record;
    std::size_t start = header.size() + 1;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) return std::nullopt;  // cut short
        const std::vector<std::string_view> fields = Fields(text.substr(start, end - start));
        start = end + 1;
        if (fields.size() != fieldCount) return std::nullopt;
        std::optional<std::string> file = Unescaped(fields[0]);
        std::optional<std::string> source = Unescaped(fields[1]);
        std::optional<std::string> key = Unescaped(fields[4]);
        std::optional<std::string> date = Unescaped(fields[7]);
        SiteEntry entry;
        if (fieldCount > kFirstRecordFields) {
            entry.caption = Unescaped(fields[8]);
            if (!entry.caption) return std::nullopt;
        }
        if (fieldCount > kSecondRecordFields) {
            CameraDetails details;
            std::size_t at = kSecondRecordFields;
            for (std::string* field : {&details.camera, &details.lens, &details.focalLength,
                                       &details.aperture, &details.exposure, &details.iso}) {
                std::optional<std::string> value = Unescaped(fields[at++]);
                if (!value) return std::nullopt;
                *field = std::move(*value);
            }
            entry.details = std::move(details);
        }
        if (!file || !source || !key || !date || file->empty() ||
            !ReadNumber(fields[2], entry.stamp.bytes) ||
            !ReadNumber(fields[3], entry.stamp.modifiedNs) || !ReadSize(fields[5], entry.size) ||
            !ReadSize(fields[6], entry.pictureSize)) {
            return std::nullopt;
        }
        // Only files inside the site: a record edited to name "../x" must not
        // make a run remove it.
        if (file->front() == '/' || *file == ".." || file->starts_with("../") ||
            file->find("/../") != std::string::npos || file->ends_with("/..")) {
            return std::nullopt;
        }
        entry.source = std::move(*source);
        entry.key = std::move(*key);
        // "YYYY-MM-DDTHH:MM:SS" and, in the third version, its offset.
        constexpr std::size_t kDateLength = 19;
        if (fieldCount == kRecordFields && date->size() > kDateLength) {
            entry.dateOffset = date->substr(kDateLength);
            date->resize(kDateLength);
        }
        entry.dateTaken = std::move(*date);
        record.emplace(std::move(*file), std::move(entry));
    }
    return record;
}

SiteOutcome BuildSite(const SiteOptions& options, ISiteImages& images, ISiteView& view) {
    return SiteRun(options, images, view).Run();
}

}  // namespace fotolane::gallery
