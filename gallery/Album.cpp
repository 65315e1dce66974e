#include "gallery/Album.h"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <optional>
#include <span>
#include <vector>

#include "gallery/GalleryPaths.h"
#include "gallery/WarningRecorder.h"
#include "platform/core/Fault.h"
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

std::span<const std::uint8_t> BytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

AlbumPaths MakeAlbumPaths(const std::string& strPictureFolder) {
    AlbumPaths paths;
    paths.indexPath = PathInFolder(strPictureFolder, "index.html");
    paths.largeThumbnailFolder =
        PathInFolder(strPictureFolder, std::string(kLargeThumbnailFolder)) + kPathSeparator;
    paths.previewFolder =
        PathInFolder(strPictureFolder, std::string(kPreviewFolder)) + kPathSeparator;
    return paths;
}

RunOutcome BuildAlbum(GalleryRun& run, const IGalleryInputs& inputs, IGalleryView& view,
                      IAlbumImages& images, const AlbumLinks& links) {
    RunOutcome outcome = run.Outcome();
    // A folder without pictures gets an album only to lead to the albums
    // below it.
    const bool leads = links.parent || !links.children.empty();
    if (outcome.end != RunEnd::Done && !(outcome.end == RunEnd::NoPictures && leads)) {
        return outcome;
    }

    const std::string folder = inputs.FolderPath();
    const AlbumPaths paths = MakeAlbumPaths(folder);
    // The gallery page's title, as text: the album has no use for markup.
    const std::string title = inputs.TitleCheck() == CheckValue::Checked
                                  ? inputs.TitleText()
                                  : MakeGalleryPaths(folder).folderName + " Gallery";
    const auto count = static_cast<std::size_t>(outcome.cells);
    std::vector<AlbumPicture> pictures;
    std::optional<Fault> failure;
    {
        WarningRecorder recorder(outcome.warnings);
        try {
            if (count > 0) {
                MakeFolder(paths.largeThumbnailFolder);
                MakeFolder(paths.previewFolder);
            }
            view.SetProgressValue(0);
            view.SetProgressMax(static_cast<std::int32_t>(run.strPictures.size()));
            std::size_t withCells = 0;
            for (std::size_t i = 0; i < run.strPictures.size() && withCells < count; ++i) {
                const std::string& name = run.strPictures[i];
                const std::string path = PathInFolder(folder, name);
                if (WasSkipped(outcome, path)) continue;
                ++withCells;
                view.SetProgressValue(static_cast<std::int32_t>(i + 1));
                if (std::optional<AlbumPicture> picture = MakeImages(
                        images, path, name, paths, inputs, run.lThumbSize, view, outcome)) {
                    pictures.push_back(std::move(*picture));
                }
                view.YieldToEvents();
                if (run.bStop) {
                    outcome.end = RunEnd::Stopped;
                    break;
                }
            }
            const std::string page = AlbumHtml(title, pictures, links);
            ReplaceFileWhole(paths.indexPath, BytesOf(page));
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
