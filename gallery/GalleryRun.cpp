#include "gallery/GalleryRun.h"

#include <cstddef>
#include <exception>
#include <optional>
#include <utility>

#include "gallery/Album.h"
#include "gallery/GalleryPage.h"
#include "gallery/GalleryPaths.h"
#include "gallery/ModThumbnails.h"
#include "gallery/WarningRecorder.h"
#include "platform/core/Fault.h"
#include "platform/core/Numbers.h"
#include "platform/core/Paths.h"
#include "platform/files/WholeFile.h"

namespace fotolane::gallery {
namespace {

constexpr Control kFrames[] = {Control::Frame1, Control::Frame2, Control::Frame3, Control::Frame4};

// Clears the running flag however the run ends, the message box included.
class RunningFlag {
  public:
    explicit RunningFlag(bool& flag) : flag_(flag) {}
    RunningFlag(const RunningFlag&) = delete;
    RunningFlag& operator=(const RunningFlag&) = delete;
    ~RunningFlag() { flag_ = false; }

  private:
    bool& flag_;
};

}  // namespace

// Tells the thumbnail maker which pictures come, with the first picture's
// mode when the run has read it, so that it may work ahead; drops that work
// however the run ends.
class ThumbnailsAhead {
  public:
    ThumbnailsAhead(IThumbnailMaker& thumbnails, std::vector<std::string> strFileNames,
                    std::string strNewPath)
        : thumbnails_(thumbnails),
          strFileNames_(std::move(strFileNames)),
          strNewPath_(std::move(strNewPath)) {}
    ThumbnailsAhead(const ThumbnailsAhead&) = delete;
    ThumbnailsAhead& operator=(const ThumbnailsAhead&) = delete;
    ~ThumbnailsAhead() {
        if (announced_) thumbnails_.ExpectPictures({}, {}, true, 0);
    }

    void Announce(bool bThumbMode, std::int32_t lSize) {
        if (announced_) return;
        announced_ = true;
        thumbnails_.ExpectPictures(strFileNames_, strNewPath_, bThumbMode, lSize);
    }

  private:
    IThumbnailMaker& thumbnails_;
    std::vector<std::string> strFileNames_;
    std::string strNewPath_;
    bool announced_ = false;
};

bool IsPictureName(const std::string& strName) {
    std::string extension = ModThumbnails::FileExtension(strName);
    // Upper-casing ASCII letters only keeps the test free of the locale.
    for (char& c : extension) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return extension == "JPG" || extension == "JPEG" || extension == "GIF" || extension == "BMP";
}

bool IsBlankTitle(const std::string& strTitle) {
    return strTitle.find_first_not_of(' ') == std::string::npos;
}

GalleryRun::GalleryRun(IGalleryInputs& inputs, IGalleryView& view, IThumbnailMaker& thumbnails)
    : inputs_(inputs), view_(view), thumbnails_(thumbnails) {}

const RunOutcome& GalleryRun::Command1_Click() {
    if (running_) return outcome_;
    if (inputs_.TitleCheck() == CheckValue::Checked && IsBlankTitle(inputs_.TitleText())) {
        outcome_ = RunOutcome{};
        view_.ShowMessage("First write a Title!", ui::kApplicationName, ui::Icon::Information,
                          ui::Buttons::OK);
        return outcome_;
    }
    return BuildGallery();
}

void GalleryRun::Command2_Click() {
    bStop = true;
}

const RunOutcome& GalleryRun::BuildGallery() {
    if (running_) return outcome_;
    RunningFlag runningUntilTheEnd(running_);
    bStop = false;
    outcome_ = RunOutcome{};
    std::optional<Fault> failure;
    {
        WarningRecorder recorder(outcome_.warnings);
        TextFileWriter page;
        try {
            outcome_.end = RunSteps(inputs_.FolderPath(), page);
        } catch (const std::exception&) {
            failure = Fault::OfCurrentException();
        }
        // On the error path the thumbnails written so far are put in place,
        // then the page with what it holds so far, before the window is
        // restored, unless writing the page itself failed: then the earlier
        // page stays whole. The run's own fault is the one reported either
        // way.
        if (failure) {
            try {
                thumbnails_.FinishThumbnails();
            } catch (const std::exception&) {
            }
        }
        if (failure && page.IsOpen()) {
            try {
                page.Close();
            } catch (const std::exception&) {
            }
        }
    }
    if (failure) {
        outcome_.end = RunEnd::Failed;
        outcome_.fault = failure;
    }
    // Step R, the same at every end.
    view_.SetEnabled(Control::Command1, true);
    view_.SetEnabled(Control::Command2, false);
    for (const Control frame : kFrames) view_.SetEnabled(frame, true);
    view_.SetProgressValue(0);
    view_.SetBusyPointer(false);
    if (failure) {
        view_.ShowMessage(std::string("Errore : ") + failure->Description(), ui::kApplicationName,
                          ui::Icon::None, ui::Buttons::OK);
    }
    return outcome_;
}

RunEnd GalleryRun::RunSteps(const std::string& strPictureFolder, TextFileWriter& page) {
    running_ = true;
    view_.SetEnabled(Control::Command1, false);
    view_.SetEnabled(Control::Command2, true);
    for (const Control frame : kFrames) view_.SetEnabled(frame, false);
    strPictures.clear();
    view_.SetBusyPointer(true);

    const std::int32_t n = ListPictures(strPictureFolder);
    outcome_.pictures = n;
    if (n == 0) return RunEnd::NoPictures;

    const GalleryPaths paths = MakeGalleryPaths(strPictureFolder);
    // Before anything is written: thumbnails go into a folder of the
    // picture folder's own and nowhere else.
    RequireOwnThumbnailFolder(paths.thumbnailFolder, std::nullopt);
    if (inputs_.WritesAlbum()) {
        if (const std::optional<Fault> fault = AlbumFolderFault(MakeAlbumPaths(strPictureFolder))) {
            RefuseThumbnails(*fault, paths.thumbnailFolder);
        }
    }
    RemoveLeftoverTemporaries(strPictureFolder, ModThumbnails::LastPathPart(paths.pagePath));
    page.Open(paths.pagePath);
    GalleryPage writer(page, inputs_, thumbnails_, strPictureFolder);
    writer.WritePageHeader(paths.folderName);
    lThumbSize = ReadNumber(inputs_.SizeText());
    try {
        RequireOwnThumbnailFolder(paths.thumbnailFolder,
                                  MakeThumbnailFolder(paths.thumbnailFolder));
    } catch (const Fault&) {
        // Without a place for the thumbnails the page would show none of
        // them; the earlier page stays.
        page.Discard();
        throw;
    }
    RemoveLeftoverTemporaries(paths.thumbnailFolder);
    std::vector<std::string> strFiles;
    for (const std::string& name : strPictures) {
        strFiles.push_back(PathInFolder(strPictureFolder, name));
    }
    ThumbnailsAhead ahead(thumbnails_, std::move(strFiles), paths.thumbnailFolder);

    for (std::int32_t i = 1; i <= n; ++i) {
        const std::string name = strPictures[static_cast<std::size_t>(i - 1)];
        view_.SetProgressValue(i);
        if (MakeThumbnail(PathInFolder(strPictureFolder, name), paths.thumbnailFolder, ahead)) {
            // Cells are numbered by the pictures shown, so that rows stay
            // full when pictures are left out.
            writer.WritePictureCell(name, outcome_.cells + 1, lThumbSize);
            outcome_.cells += 1;
        }
        // A click on "&Stop" is served here; it takes effect once the picture
        // in hand has its thumbnail and its cell.
        view_.YieldToEvents();
        if (bStop) {
            thumbnails_.FinishThumbnails();
            page.Close();
            return RunEnd::Stopped;
        }
    }
    thumbnails_.FinishThumbnails();
    writer.WritePageFooter();
    page.Close();
    return RunEnd::Done;
}

bool GalleryRun::MakeThumbnail(const std::string& strPicturePath, const std::string& strThumbFolder,
                               ThumbnailsAhead& ahead) {
    const auto make = [&] {
        const bool bThumbMode = inputs_.AllSelected();
        ahead.Announce(bThumbMode, lThumbSize);
        thumbnails_.Get_Thrumbal(strPicturePath, strThumbFolder, bThumbMode, lThumbSize);
    };
    if (!inputs_.KeepGoing()) {
        make();
        return true;
    }
    // Keeping going: a picture that cannot be made into a thumbnail is
    // reported and left out. Only the thumbnail maker's faults are taken so;
    // running out of memory, or failing to write the page, still ends the run.
    // With the viewer the cell needs the picture's size as well: asked here
    // first, so that a picture whose thumbnail "New" kept, but which cannot
    // be read, is left out too rather than breaking off its cell.
    try {
        make();
        if (inputs_.ViewerCheck() == CheckValue::Checked) {
            std::int32_t lWidth = 0;
            std::int32_t lHeight = 0;
            thumbnails_.Get_SizePicture(strPicturePath, lWidth, lHeight);
        }
        return true;
    } catch (const Fault& fault) {
        outcome_.skipped.push_back(fault.Naming(strPicturePath));
        view_.ShowSkipped(outcome_.skipped.back());
        return false;
    }
}

std::int32_t GalleryRun::ListPictures(const std::string& strPictureFolder) {
    std::int32_t count = 0;
    // The listing ends at the first empty name only: a name of spaces alone
    // (possible on Linux) is no picture, but it must not end the listing and
    // lose the pictures listed after it.
    for (std::string name = listing_.First(strPictureFolder, IsPictureName); !name.empty();
         name = NextFileName()) {
        if (IsPictureName(name)) {
            strPictures.push_back(name);
            count = CheckedAdd(count, 1);
        }
    }
    view_.SetProgressValue(0);
    if (count > 0) view_.SetProgressMax(count);
    return count;
}

std::string GalleryRun::NextFileName() {
    try {
        return listing_.Next();
    } catch (const Fault&) {
        return {};
    }
}

std::optional<Fault> GalleryRun::MakeThumbnailFolder(const std::string& strPath) {
    try {
        CreateFolder(strPath);
    } catch (const Fault& fault) {
        // Most often the folder exists from an earlier run and is reused as
        // it is; whether there is a folder now is looked at next.
        return fault;
    }
    return std::nullopt;
}

void GalleryRun::RequireOwnThumbnailFolder(const std::string& strPath,
                                           const std::optional<Fault>& creation) {
    std::optional<Fault> fault = NotOwnFolderFault(strPath, "thumbnail folder");
    if (!fault && creation) {
        std::string folder = strPath;
        while (folder.size() > 1 && folder.back() == kPathSeparator) folder.pop_back();
        // Not made, and no folder there either.
        if (KindAt(folder) == EntryKind::None) fault = Fault(creation->Message(), folder);
    }
    if (fault) RefuseThumbnails(*fault, strPath);
}

void GalleryRun::RefuseThumbnails(const Fault& fault, const std::string& strThumbFolder) {
    // No thumbnail can be written; the outcome says which ones.
    for (const std::string& name : strPictures) {
        bool bExtensionFound = false;
        std::string path = name;
        outcome_.warnings.push_back(RunWarning{
            "Failed to save to JPG",
            strThumbFolder + ModThumbnails::SplitFileName(path, bExtensionFound) + ".jpg"});
    }
    throw fault;
}

std::optional<Fault> NotOwnFolderFault(const std::string& strPath, std::string_view role) {
    std::string folder = strPath;
    while (folder.size() > 1 && folder.back() == kPathSeparator) folder.pop_back();
    const char* what = nullptr;
    switch (KindAt(folder)) {
        case EntryKind::Folder:
        case EntryKind::None:
            return std::nullopt;
        case EntryKind::Link:
            what = "A link";
            break;
        case EntryKind::PlainFile:
            what = "A file";
            break;
        case EntryKind::Other:
            what = "A device";
            break;
    }
    return Fault(std::string(what) + " stands where the " + std::string(role) + " belongs", folder);
}

}  // namespace fotolane::gallery
