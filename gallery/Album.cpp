#include "gallery/Album.h"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "gallery/GalleryPaths.h"
#include "gallery/ModThumbnails.h"
#include "gallery/PictureNames.h"
#include "gallery/WarningRecorder.h"
#include "platform/core/Fault.h"
#include "platform/core/Numbers.h"
#include "platform/core/Paths.h"
#include "platform/files/FileSystem.h"
#include "platform/files/WholeFile.h"

namespace fotolane::gallery {
namespace {

void MakeFolder(const std::string& strPath) {
    try {
        CreateFolder(strPath);
    } catch (const Fault&) {
        // As with Thumbnails: an existing folder is reused, and any other
        // failure shows when the first image is written into it.
    }
}

// Whether the run left the picture out of its page (keeping going).
bool WasSkipped(const RunOutcome& outcome, const std::string& strPath) {
    return std::any_of(outcome.skipped.begin(), outcome.skipped.end(),
                       [&strPath](const Fault& fault) { return fault.Path() == strPath; });
}

// The album's images of one picture. Keeping going, a picture whose images
// cannot be made is left out of the album as the run leaves pictures out.
std::optional<AlbumPicture> MakeImages(IAlbumImages& images, const std::string& strPath,
                                       const std::string& strName, const AlbumPaths& paths,
                                       const IGalleryInputs& inputs, std::int32_t lThumbSize,
                                       IGalleryView& view, RunOutcome& outcome) {
    const AlbumRemake remake = inputs.AllSelected() ? AlbumRemake::All : AlbumRemake::Outdated;
    if (!inputs.KeepGoing()) {
        return images.MakeAlbumImages(strPath, strName, paths, remake, lThumbSize,
                                      outcome.albumImages);
    }
    try {
        return images.MakeAlbumImages(strPath, strName, paths, remake, lThumbSize,
                                      outcome.albumImages);
    } catch (const Fault& fault) {
        outcome.skipped.push_back(fault.Naming(strPath));
        view.ShowSkipped(outcome.skipped.back());
        return std::nullopt;
    }
}

// The album's jobs announced to the image maker for as long as the album is
// made: dropped on every way out, so that no worker writes past it.
class ExpectedImages {
  public:
    ExpectedImages(IAlbumImages& images, const AlbumPaths& paths,
                   const std::vector<AlbumImageJob>& jobs)
        : images_(images), paths_(paths) {
        images_.ExpectAlbumImages(paths_, jobs);
    }
    ExpectedImages(const ExpectedImages&) = delete;
    ExpectedImages& operator=(const ExpectedImages&) = delete;
    ~ExpectedImages() { Drop(); }

    void Drop() const { images_.ExpectAlbumImages(paths_, {}); }

  private:
    IAlbumImages& images_;
    const AlbumPaths& paths_;
};

std::span<const std::uint8_t> BytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string WithoutSeparator(std::string folder) {
    while (folder.size() > 1 && folder.back() == kPathSeparator) folder.pop_back();
    return folder;
}

// Whether the gallery's own thumbnail of a picture is there to be shown.
bool HasThumbnail(const std::string& strThumbFolder, const std::string& strName) {
    std::string name = strName;
    bool bExtensionFound = false;
    try {
        return !LookUpPlainFile(strThumbFolder +
                                ModThumbnails::SplitFileName(name, bExtensionFound) + ".jpg")
                    .empty();
    } catch (const Fault&) {
        return false;
    }
}

// Removes from an image folder the album's images that are not in `kept`.
// Only plain files of the album's naming go: a file of the user's own, a
// link or a folder stays. A file that cannot be removed is a warning.
void RemoveImagesNotKept(const std::string& strFolder, const std::set<std::string>& kept) {
    const std::string folder = WithoutSeparator(strFolder);
    std::vector<std::string> names;
    try {
        if (KindAt(folder) != EntryKind::Folder) return;
        FolderListing listing;
        for (std::string name = listing.First(folder); !name.empty(); name = listing.Next()) {
            names.push_back(std::move(name));
        }
    } catch (const Fault& fault) {
        ui::Warn("Failed to remove", fault.Path());
        return;
    }
    for (const std::string& name : names) {
        if (!IsAlbumImageName(name) || kept.contains(name)) continue;
        const std::string path = PathInFolder(folder, name);
        try {
            if (KindAt(path) == EntryKind::PlainFile) RemoveFile(path);
        } catch (const Fault& fault) {
            ui::Warn("Failed to remove", fault.Path());
        }
    }
}

// The folder's pictures that the gallery does not take, in the name order.
std::vector<std::string> AlbumOnlyPictures(const std::string& folder) {
    std::vector<std::string> names;
    FolderListing listing;
    for (std::string name = listing.First(folder, IsAlbumOnlyPictureName); !name.empty();
         name = listing.Next()) {
        names.push_back(std::move(name));
    }
    SortByName(names);
    return names;
}

}  // namespace

std::optional<Fault> AlbumFolderFault(const AlbumPaths& paths) {
    if (std::optional<Fault> fault =
            NotOwnFolderFault(paths.smallThumbnailFolder, "album's thumbnail folder")) {
        return fault;
    }
    if (std::optional<Fault> fault =
            NotOwnFolderFault(paths.largeThumbnailFolder, "high-density thumbnail folder")) {
        return fault;
    }
    return NotOwnFolderFault(paths.previewFolder, "preview folder");
}

AlbumPaths MakeAlbumPaths(const std::string& strPictureFolder) {
    AlbumPaths paths;
    paths.indexPath = PathInFolder(strPictureFolder, "index.html");
    paths.smallThumbnailFolder =
        PathInFolder(strPictureFolder, std::string(kSmallThumbnailFolder)) + kPathSeparator;
    paths.largeThumbnailFolder =
        PathInFolder(strPictureFolder, std::string(kLargeThumbnailFolder)) + kPathSeparator;
    paths.previewFolder =
        PathInFolder(strPictureFolder, std::string(kPreviewFolder)) + kPathSeparator;
    return paths;
}

RunOutcome BuildAlbum(GalleryRun& run, const IGalleryInputs& inputs, IGalleryView& view,
                      IAlbumImages& images, const AlbumLinks& links) {
    RunOutcome outcome = run.Outcome();
    if (outcome.end != RunEnd::Done && outcome.end != RunEnd::NoPictures) return outcome;
    const std::string folder = inputs.FolderPath();
    // Beside the run's pictures, those of the album alone, which the run's
    // list and page leave as they are.
    std::vector<std::string> ownPictures;
    try {
        ownPictures = AlbumOnlyPictures(folder);
    } catch (const Fault&) {
        // Listed as the run listed the folder: a folder that cannot be read
        // gives the album none of them.
    }
    // A folder without pictures gets an album only to lead to the albums
    // below it.
    const bool leads = links.parent || !links.children.empty();
    if (outcome.end == RunEnd::NoPictures && !leads && ownPictures.empty()) return outcome;

    const AlbumPaths paths = MakeAlbumPaths(folder);
    // The gallery page's title, as text: the album has no use for markup.
    const std::string title = inputs.TitleCheck() == CheckValue::Checked
                                  ? inputs.TitleText()
                                  : MakeGalleryPaths(folder).folderName + " Gallery";
    const std::string thumbnailFolder = MakeGalleryPaths(folder).thumbnailFolder;
    // The run's thumbnail size; a run without pictures of its own read none.
    std::int32_t thumbSize = run.lThumbSize;
    if (outcome.end == RunEnd::NoPictures) {
        thumbSize = ReadNumber(inputs.SizeText());
        if (thumbSize <= 0) thumbSize = kDefaultThumbnailSize;
    }
    const auto count = static_cast<std::size_t>(outcome.cells);
    std::vector<AlbumPicture> pictures;
    // The images each folder keeps: those of every picture still in the
    // folder, but for the ones this album shows without them.
    std::set<std::string> keptLarge;
    for (const std::string& name : run.strPictures) keptLarge.insert(AlbumImageName(name));
    for (const std::string& name : ownPictures) keptLarge.insert(AlbumImageName(name));
    std::set<std::string> keptSmall = keptLarge;
    std::set<std::string> keptPreviews = keptLarge;
    std::optional<Fault> failure;
    {
        WarningRecorder recorder(outcome.warnings);
        try {
            // Making a folder never goes through a link in its place; what
            // stands there is looked at next, before anything is written.
            if (count > 0 || !ownPictures.empty()) {
                MakeFolder(paths.smallThumbnailFolder);
                MakeFolder(paths.largeThumbnailFolder);
                MakeFolder(paths.previewFolder);
            }
            if (std::optional<Fault> fault = AlbumFolderFault(paths)) throw *fault;
            RemoveLeftoverTemporaries(folder, "index.html");
            RemoveLeftoverTemporaries(paths.smallThumbnailFolder);
            RemoveLeftoverTemporaries(paths.largeThumbnailFolder);
            RemoveLeftoverTemporaries(paths.previewFolder);
            // The images to make, in the order of the loops below: a maker
            // may start on them ahead. The guard drops that work however
            // the album ends.
            const AlbumRemake remake =
                inputs.AllSelected() ? AlbumRemake::All : AlbumRemake::Outdated;
            std::vector<AlbumImageJob> jobs;
            for (std::size_t i = 0; i < run.strPictures.size() && jobs.size() < count; ++i) {
                const std::string path = PathInFolder(folder, run.strPictures[i]);
                if (!WasSkipped(outcome, path)) {
                    jobs.push_back({path, run.strPictures[i], remake, run.lThumbSize});
                }
            }
            for (const std::string& name : ownPictures) {
                jobs.push_back({PathInFolder(folder, name), name, remake, thumbSize});
            }
            const ExpectedImages expected(images, paths, jobs);
            view.SetProgressValue(0);
            view.SetProgressMax(
                static_cast<std::int32_t>(run.strPictures.size() + ownPictures.size()));
            std::size_t withCells = 0;
            for (std::size_t i = 0; i < run.strPictures.size() && withCells < count; ++i) {
                const std::string& name = run.strPictures[i];
                const std::string path = PathInFolder(folder, name);
                if (WasSkipped(outcome, path)) continue;
                ++withCells;
                view.SetProgressValue(static_cast<std::int32_t>(i + 1));
                if (std::optional<AlbumPicture> picture = MakeImages(
                        images, path, name, paths, inputs, run.lThumbSize, view, outcome)) {
                    picture->hasThumbnail = HasThumbnail(thumbnailFolder, name);
                    if (!picture->largeThumbnail) keptLarge.erase(AlbumImageName(name));
                    if (!picture->smallThumbnail) keptSmall.erase(AlbumImageName(name));
                    if (!picture->preview) keptPreviews.erase(AlbumImageName(name));
                    pictures.push_back(std::move(*picture));
                }
                view.YieldToEvents();
                if (run.bStop) {
                    outcome.end = RunEnd::Stopped;
                    break;
                }
            }
            for (std::size_t i = 0; i < ownPictures.size() && !run.bStop; ++i) {
                const std::string& name = ownPictures[i];
                view.SetProgressName(name);
                view.SetProgressValue(static_cast<std::int32_t>(run.strPictures.size() + i + 1));
                std::optional<AlbumPicture> picture =
                    MakeImages(images, PathInFolder(folder, name), name, paths, inputs, thumbSize,
                               view, outcome);
                if (picture && !picture->smallThumbnail) keptSmall.erase(AlbumImageName(name));
                if (picture && !picture->largeThumbnail) keptLarge.erase(AlbumImageName(name));
                if (picture && !picture->preview) keptPreviews.erase(AlbumImageName(name));
                // A picture that browsers do not show needs an image of its own.
                if (picture && (picture->browsersShow || picture->smallThumbnail ||
                                picture->largeThumbnail || picture->preview)) {
                    pictures.push_back(std::move(*picture));
                }
                view.YieldToEvents();
                if (run.bStop) outcome.end = RunEnd::Stopped;
            }
            // Nothing made ahead is written after this point.
            expected.Drop();
            SortAlbumPictures(pictures, inputs.AlbumOrder());
            outcome.albumEarliest = EarliestSortKey(pictures);
            outcome.albumPictures = static_cast<std::int32_t>(pictures.size());
            outcome.albumCover = AlbumCoverOf(pictures, links);
            const std::string page = AlbumHtml(title, pictures, links);
            ReplaceFileWhole(paths.indexPath, BytesOf(page));
            // Only now: until the new album is in place, the earlier one may
            // link them.
            RemoveImagesNotKept(paths.smallThumbnailFolder, keptSmall);
            RemoveImagesNotKept(paths.largeThumbnailFolder, keptLarge);
            RemoveImagesNotKept(paths.previewFolder, keptPreviews);
        } catch (const std::exception&) {
            failure = Fault::OfCurrentException();
        }
    }
    view.SetProgressValue(0);
    if (failure) {
        outcome.end = RunEnd::Failed;
        outcome.fault = failure;
        view.ShowMessage(std::string("Errore : ") + failure->Description(), ui::kApplicationName,
                         ui::Icon::None, ui::Buttons::OK);
    }
    return outcome;
}

}  // namespace fotolane::gallery
