#include "gallery/Album.h"

#include <cstddef>
#include <exception>
#include <new>
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
    if (outcome.end != RunEnd::Done) return outcome;

    const std::string folder = inputs.FolderPath();
    const AlbumPaths paths = MakeAlbumPaths(folder);
    // The gallery page's title, as text: the album has no use for markup.
    const std::string title = inputs.TitleCheck() == 1
                                  ? inputs.TitleText()
                                  : MakeGalleryPaths(folder).folderName + " Gallery";
    const auto count = static_cast<std::size_t>(outcome.cells);
    std::vector<AlbumPicture> pictures;
    std::optional<Fault> failure;
    {
        WarningRecorder recorder(outcome.warnings);
        try {
            MakeFolder(paths.largeThumbnailFolder);
            MakeFolder(paths.previewFolder);
            view.SetProgressValue(0);
            view.SetProgressMax(outcome.cells);
            for (std::size_t i = 0; i < count && i < run.strPictures.size(); ++i) {
                const std::string& name = run.strPictures[i];
                view.SetProgressValue(static_cast<std::int32_t>(i + 1));
                pictures.push_back(images.MakeAlbumImages(PathInFolder(folder, name), name, paths,
                                                          inputs.AllSelected(), run.lThumbSize));
                view.YieldToEvents();
                if (run.bStop) {
                    outcome.end = RunEnd::Stopped;
                    break;
                }
            }
            const std::string page = AlbumHtml(title, pictures, links);
            ReplaceFileWhole(paths.indexPath, BytesOf(page));
        } catch (const Fault& fault) {
            failure = fault;
        } catch (const std::bad_alloc&) {
            failure = Fault::OutOfMemory();
        } catch (const std::exception& error) {
            failure = Fault(error.what());
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
