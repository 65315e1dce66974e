#include "app/batch/BatchGallery.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>
#include <utility>

#include "app/batch/BatchThumbnails.h"
#include "gallery/GalleryPaths.h"
#include "gallery/PictureNames.h"
#include "platform/core/Interrupt.h"
#include "platform/core/Utf8.h"
#include "platform/files/FileSystem.h"

namespace fotolane::batch {
namespace {

std::string Duration(double seconds) {
    char text[32];
    if (seconds < 90) {
        std::snprintf(text, sizeof text, "%.0f s", seconds);
    } else if (seconds < 5400) {
        std::snprintf(text, sizeof text, "%.0f min", seconds / 60);
    } else {
        std::snprintf(text, sizeof text, "%.1f h", seconds / 3600);
    }
    return text;
}

}  // namespace

BatchInputs::BatchInputs(const BatchSettings& settings, std::string folderPath)
    : settings_(settings), folderPath_(std::move(folderPath)) {}

BatchView::BatchView(std::ostream& err, bool showProgress, std::string folderLabel)
    : err_(err), showProgress_(showProgress), folderLabel_(std::move(folderLabel)) {}

void BatchView::ShowMessage(const std::string& text, const std::string&, ui::Icon, ui::Buttons) {
    EndProgressLine();
    err_ << TerminalText(text) << '\n' << std::flush;
}

void BatchView::ShowWarning(const std::string& text, const std::string& path) {
    EndProgressLine();
    err_ << "fotolane-gallery: " << TerminalText(text) << ": " << TerminalText(path) << '\n'
         << std::flush;
}

void BatchView::ShowSkipped(const Fault& fault) {
    EndProgressLine();
    err_ << "fotolane-gallery: skipped: " << TerminalText(fault.Description()) << '\n'
         << std::flush;
}

void BatchView::YieldToEvents() {
    if (InterruptRequested() && run_ != nullptr) run_->Command2_Click();
}

void BatchView::SetProgressValue(std::int32_t value) {
    if (!showProgress_) return;
    // Past the run's pictures, the album's own ones are named as they come.
    const bool own =
        run_ != nullptr && value > 0 && static_cast<std::size_t>(value) > run_->strPictures.size();
    if (value <= 0 || run_ == nullptr || (own && progressName_.empty())) {
        EndProgressLine();
        return;
    }
    // One line, rewritten in place for every picture.
    if (whole_) {
        const std::int64_t done = whole_->picturesBefore + value;
        err_ << "\rfolder " << whole_->folder << " of " << whole_->folders << ", picture " << done
             << " of " << whole_->pictures;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - whole_->start).count();
        if (done > 1 && elapsed >= 1.0) {
            err_ << ", about "
                 << Duration(elapsed / static_cast<double>(done - 1) *
                             static_cast<double>(whole_->pictures - done + 1))
                 << " left";
        }
        err_ << ": ";
    } else {
        err_ << "\rpicture " << value << " of " << progressMax_ << ": ";
    }
    err_ << TerminalText(folderLabel_)
         << TerminalText(own ? progressName_
                             : run_->strPictures[static_cast<std::size_t>(value) - 1])
         << "\x1b[K" << std::flush;
    progressLineOpen_ = true;
}

void BatchView::EndProgressLine() {
    if (!progressLineOpen_) return;
    err_ << '\n' << std::flush;
    progressLineOpen_ = false;
}

std::string TerminalText(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    const auto escapeByte = [&out](unsigned char byte) {
        out += "\\x";
        out += kHex[byte >> 4];
        out += kHex[byte & 0x0F];
    };
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\\') {
            out += "\\\\";
            ++i;
        } else if (byte < 0x20 || byte == 0x7F) {
            escapeByte(byte);
            ++i;
        } else if (byte < 0x80) {
            out += static_cast<char>(byte);
            ++i;
        } else {
            // A well-formed UTF-8 character passes, but for the C1 controls
            // (U+0080 to U+009F), which terminals take as escape sequences;
            // a byte outside well-formed UTF-8 is shown by its value.
            const std::size_t from = i;
            char32_t c = 0;
            if (!TakeCharacter(text, i, c)) {
                escapeByte(byte);
                ++i;
            } else if (c < 0xA0) {
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 0x0F];
            } else {
                out.append(text.substr(from, i - from));
            }
        }
    }
    return out;
}

namespace {

// One folder's run and album.
struct FolderOutcome {
    gallery::RunOutcome outcome;        // the run's, with the album's part added
    std::size_t thumbnailWarnings = 0;  // of outcome.warnings, the run's own
};

// What the closing line tells, over every folder of the run.
bool IsLeftOutName(const std::string& name) {
    return !gallery::LeftOutExtension(name).empty();
}

// The files of a folder whose name says picture or video but that the album
// cannot take, by extension (".mov" -> 3); a folder that cannot be listed
// adds none (the run itself tells).
void CountLeftOut(const std::string& folder, std::map<std::string, std::int64_t>& leftOut) {
    try {
        FolderListing listing;
        for (std::string name = listing.First(folder, IsLeftOutName); !name.empty();
             name = listing.Next()) {
            ++leftOut[gallery::LeftOutExtension(name)];
        }
    } catch (const Fault&) {
    }
}

// "; left out: 3 .mov, 1 .cr2": the most first, ties by extension; nothing
// when there are none.
void WriteLeftOut(std::ostream& err, const std::map<std::string, std::int64_t>& leftOut) {
    std::vector<std::pair<std::string, std::int64_t>> kinds(leftOut.begin(), leftOut.end());
    std::stable_sort(kinds.begin(), kinds.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        err << (i == 0 ? "; left out: " : ", ") << kinds[i].second << ' ' << kinds[i].first;
    }
}

struct Tally {
    std::size_t folders = 0;
    std::int64_t pictures = 0;
    std::int64_t made = 0;
    std::int64_t kept = 0;
    std::int64_t skipped = 0;
    std::int64_t failed = 0;
    std::int64_t albumMade = 0;
    std::int64_t albumKept = 0;
    std::int64_t albumFailed = 0;
    std::map<std::string, std::int64_t> leftOut;  // counted only with an album

    void Add(const FolderOutcome& folder, const BatchThumbnails& thumbnails) {
        const gallery::RunOutcome& outcome = folder.outcome;
        const auto warned = static_cast<std::int64_t>(folder.thumbnailWarnings);
        ++folders;
        pictures += outcome.pictures;
        skipped += static_cast<std::int64_t>(outcome.skipped.size());
        failed += warned;
        // A thumbnail whose write was warned about is counted as failed.
        made += std::max<std::int64_t>(0, thumbnails.made - warned);
        kept += thumbnails.kept;
        albumMade += outcome.albumImages.made;
        albumKept += outcome.albumImages.kept;
        albumFailed += outcome.albumImages.failed;
    }
};

// "12 pictures: 10 thumbnails made, 1 kept, 1 skipped, 0 failed, 2.3 s";
// with the album, its images' counts before the time ("…, 0 failed; album:
// 20 images made, 4 kept, 0 failed, 2.3 s").
void WriteClosingLine(std::ostream& err, const Tally& tally, bool recursive, bool album,
                      std::chrono::steady_clock::duration time) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", std::chrono::duration<double>(time).count());
    err << tally.pictures << (tally.pictures == 1 ? " picture" : " pictures");
    if (recursive) err << " in " << tally.folders << (tally.folders == 1 ? " folder" : " folders");
    err << ": " << tally.made << " thumbnails made, " << tally.kept << " kept, " << tally.skipped
        << " skipped, " << tally.failed << " failed";
    if (album) {
        err << "; album: " << tally.albumMade << " images made, " << tally.albumKept << " kept, "
            << tally.albumFailed << " failed";
        WriteLeftOut(err, tally.leftOut);
    }
    err << ", " << seconds << " s\n" << std::flush;
}

// Whether the folder holds a site's record, a plain file and no link.
bool HoldsSiteRecord(const std::string& folder) {
    try {
        return KindAt(gallery::PathInFolder(folder, std::string(gallery::kSiteRecordName))) ==
               EntryKind::PlainFile;
    } catch (const Fault&) {
        return false;
    }
}

void AddFoldersBelow(const std::string& folder, std::vector<std::string>& folders) {
    std::vector<FolderEntry> entries;
    try {
        entries = WalkFolder(folder);
    } catch (const Fault&) {
        return;  // a folder that cannot be read is not entered
    }
    for (const FolderEntry& entry : entries) {
        const std::string& name = entry.name;
        // The galleries' and albums' own image folders are made by these
        // runs: a gallery of them would be thumbnails of thumbnails, with or
        // without --index this time. Links to folders are not followed.
        if (entry.kind != EntryKind::Folder || name == gallery::kThumbnailFolder ||
            name == gallery::kSmallThumbnailFolder || name == gallery::kLargeThumbnailFolder ||
            name == gallery::kPreviewFolder) {
            continue;
        }
        const std::string path = gallery::PathInFolder(folder, name);
        // A site made by -o is published pictures, not a picture folder:
        // its pages and images are left to the site's own runs.
        if (HoldsSiteRecord(path)) continue;
        folders.push_back(path);
        AddFoldersBelow(path, folders);
    }
}

// A folder below the top as the progress line names it: its path from the
// top, with a separator; nothing for the top itself.
std::string FolderLabel(const std::string& top, const std::string& folder) {
    if (folder == top) return {};
    return std::filesystem::path(folder).lexically_relative(top).string() + "/";
}

// One folder's gallery, exactly as a run on that folder alone makes it, and
// its album when there is a maker for it.
FolderOutcome RunOneFolder(const BatchSettings& settings, const std::string& folderPath,
                           BatchThumbnails& thumbnails, gallery::IAlbumImages* album,
                           const gallery::AlbumLinks& links, std::ostream& err, bool showProgress,
                           std::string folderLabel,
                           const std::optional<BatchView::WholeRun>& whole) {
    BatchInputs inputs(settings, folderPath);
    BatchView view(err, showProgress, std::move(folderLabel));
    if (whole) view.SetWholeRun(*whole);
    gallery::GalleryRun run(inputs, view, thumbnails);
    view.Attach(run);
    // The JPEG writer's warnings and the thumbnail maker's yields reach the
    // same view as the run's own.
    ui::ScopedHost host(view);
    const gallery::RunOutcome& outcome = run.Command1_Click();
    const std::size_t thumbnailWarnings = outcome.warnings.size();
    if (album == nullptr) return {outcome, thumbnailWarnings};
    BatchAlbumImages images(*album, settings.update);
    return {gallery::BuildAlbum(run, inputs, view, images, links), thumbnailWarnings};
}

// Whether the folder holds a picture that its album shows (the gallery's or
// the album's own).
bool HoldsPicture(const std::string& folder) {
    try {
        return !FolderListing().First(folder, gallery::IsAlbumPictureName).empty();
    } catch (const Fault&) {
        // A folder that cannot be listed makes no gallery either.
    }
    return false;
}

}  // namespace

std::map<std::string, gallery::AlbumLinks> AlbumLinksOf(const std::vector<std::string>& folders) {
    namespace fs = std::filesystem;
    std::map<std::string, gallery::AlbumLinks> links;
    std::map<std::string, bool> hasAlbum;
    // Folders come after their parents: from the last one up, a folder's
    // albums below are known before the folder itself.
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        gallery::AlbumLinks& own = links[*folder];
        gallery::SortAlbumLinks(own.children, {}, gallery::AlbumSort::Name);
        bool& album = hasAlbum[*folder];
        album = album || !own.children.empty() || HoldsPicture(*folder);
        const fs::path path(*folder);
        const std::string parent = path.parent_path().string();
        if (album && folder + 1 != folders.rend()) {
            links[parent].children.push_back(
                gallery::AlbumChildOf(path.filename().string(), std::nullopt, 0));
            hasAlbum[parent] = true;
            own.parent = true;
        }
    }
    for (auto& [folder, own] : links) {
        if (!hasAlbum[folder]) own = gallery::AlbumLinks{};
    }
    return links;
}

std::vector<std::string> GalleryFolders(const std::string& top) {
    std::vector<std::string> folders{top};
    AddFoldersBelow(top, folders);
    return folders;
}

int WorseExitStatus(int a, int b) {
    const auto rank = [](int status) {
        switch (status) {
            case kExitStopped:
                return 4;
            case kExitUsage:
                return 3;
            case kExitError:
                return 2;
            case kExitIncomplete:
                return 1;
            default:
                return 0;
        }
    };
    return rank(b) > rank(a) ? b : a;
}

namespace {

// The site's run as a terminal sees it: warnings and skips on the error
// stream, a progress line over the whole run, Ctrl+C as a stop.
class SiteView final : public gallery::ISiteView, public ui::Host {
  public:
    SiteView(std::ostream& err, bool showProgress) : err_(err), showProgress_(showProgress) {}

    bool StopRequested() override { return InterruptRequested(); }
    void ShowProgress(const gallery::SiteProgress& progress) override {
        if (!showProgress_) return;
        const auto now = std::chrono::steady_clock::now();
        if (!begun_) {
            begun_ = true;
            start_ = now;
        }
        err_ << "\rfolder " << progress.folder << " of " << progress.folders << ", picture "
             << progress.picture << " of " << progress.pictures << " (" << progress.made << " of "
             << progress.toMake << " to make)";
        // An estimate once there is something to go by.
        const double elapsed = std::chrono::duration<double>(now - start_).count();
        if (progress.made > 0 && elapsed >= 1.0) {
            const double left = elapsed / static_cast<double>(progress.made) *
                                static_cast<double>(progress.toMake - progress.made);
            err_ << ", about " << Duration(left) << " left";
        }
        err_ << ": " << TerminalText(progress.name) << "\x1b[K" << std::flush;
        lineOpen_ = true;
    }
    void ShowSkipped(const Fault& fault) override {
        EndLine();
        err_ << "fotolane-gallery: skipped: " << TerminalText(fault.Description()) << '\n'
             << std::flush;
    }
    void ShowMessage(const std::string& text, const std::string&, ui::Icon, ui::Buttons) override {
        EndLine();
        err_ << TerminalText(text) << '\n' << std::flush;
    }
    void YieldToEvents() override {}
    void ShowWarning(const std::string& text, const std::string& path) override {
        EndLine();
        err_ << "fotolane-gallery: " << TerminalText(text) << ": " << TerminalText(path) << '\n'
             << std::flush;
    }
    void EndLine() {
        if (!lineOpen_) return;
        err_ << '\n' << std::flush;
        lineOpen_ = false;
    }

  private:
    std::ostream& err_;
    bool showProgress_;
    bool lineOpen_ = false;
    bool begun_ = false;
    std::chrono::steady_clock::time_point start_;
};

bool IsWithin(const std::filesystem::path& inner, const std::filesystem::path& outer) {
    auto a = inner.begin();
    for (auto b = outer.begin(); b != outer.end(); ++b, ++a) {
        if (a == inner.end() || *a != *b) return false;
    }
    return true;
}

// What is wrong with `output` as the site of `source`, before anything is
// written; empty when it can be one.
std::string SiteFolderProblem(const std::string& source, const std::string& output) {
    EntryKind kind = EntryKind::None;
    try {
        kind = KindAt(output);
    } catch (const Fault&) {
        return "the site's folder cannot be looked at: ";
    }
    if (kind == EntryKind::Link) return "the site's folder is a link: ";
    if (kind != EntryKind::None && kind != EntryKind::Folder) {
        return "the site's folder is no folder: ";
    }
    const std::optional<std::string> sitePath = RealPathOfNew(output);
    if (!sitePath) return "the site's folder cannot be looked at: ";
    const std::optional<std::string> sourcePath = RealPath(source);
    if (!sourcePath) return "the picture folder cannot be looked at: ";
    if (IsWithin(*sitePath, *sourcePath)) return "the site's folder is inside the picture folder: ";
    if (IsWithin(*sourcePath, *sitePath)) return "the picture folder is inside the site's folder: ";
    if (kind == EntryKind::Folder) {
        const std::optional<bool> empty = IsEmptyFolder(output);
        if (!empty) return "the site's folder cannot be read: ";
        if (!*empty && !HoldsSiteRecord(output)) {
            return "the site's folder holds other files and no site made here before: ";
        }
    } else if (!IsFolder(std::filesystem::path(*sitePath).parent_path().string())) {
        return "the folder to hold the site's folder is not there: ";
    }
    return {};
}

int RunSite(const BatchSettings& settings, const std::string& folderPath,
            const std::vector<std::string>& folders, gallery::ISiteImages& images,
            std::ostream& err, bool showProgress) {
    if (settings.titled && gallery::IsBlankTitle(settings.title)) {
        err << "First write a Title!\n";
        return kExitUsage;
    }
    if (const std::string problem = SiteFolderProblem(folderPath, settings.output);
        !problem.empty()) {
        err << "fotolane-gallery: " << problem << TerminalText(settings.output) << '\n';
        return kExitUsage;
    }
    gallery::SiteOptions options;
    options.source = folderPath;
    options.output = ResolvedFolderPath(settings.output);
    options.folders = folders;
    options.thumbSize = std::stoi(settings.size);
    if (settings.titled) options.title = settings.title;
    options.keepGoing = settings.keepGoing;
    options.keepLocation = settings.keepLocation;
    options.originals = settings.originals;
    options.sort = settings.sort;

    SiteView view(err, showProgress);
    ui::ScopedHost host(view);
    const auto start = std::chrono::steady_clock::now();
    gallery::SiteOutcome outcome;
    if (KindAt(options.output) == EntryKind::None) {
        try {
            CreateFolder(options.output);
        } catch (const Fault& fault) {
            outcome.end = gallery::RunEnd::Failed;
            outcome.fault = fault;
        }
    }
    ScopedInterruptToStop interrupt;
    if (outcome.end != gallery::RunEnd::Failed) outcome = gallery::BuildSite(options, images, view);
    view.EndLine();
    if (outcome.fault) err << "Errore : " << TerminalText(outcome.fault->Description()) << '\n';
    if (showProgress) {
        char seconds[32];
        std::snprintf(
            seconds, sizeof seconds, "%.1f",
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        err << outcome.pictures << (outcome.pictures == 1 ? " picture" : " pictures");
        if (settings.recursive) {
            err << " in " << outcome.folders << (outcome.folders == 1 ? " folder" : " folders");
        }
        err << ": " << outcome.skipped.size() << " skipped; site: " << outcome.images.made
            << " files made, " << outcome.images.kept << " kept, " << outcome.images.failed
            << " failed, " << outcome.removed << " removed";
        std::map<std::string, std::int64_t> leftOut;
        for (const std::string& folder : folders) CountLeftOut(folder, leftOut);
        WriteLeftOut(err, leftOut);
        err << ", " << seconds << " s\n";
    }
    switch (outcome.end) {
        case gallery::RunEnd::Failed:
            return kExitError;
        case gallery::RunEnd::Stopped:
            return kExitStopped;
        default:
            return outcome.Incomplete() ? kExitIncomplete : kExitDone;
    }
}

}  // namespace

int RunBatchGallery(const BatchSettings& settings, const BatchImageMakers& makers,
                    std::ostream& err, bool terminal) {
    const std::string folderPath = ResolvedFolderPath(settings.folder);
    if (!IsFolder(folderPath)) {
        err << "fotolane-gallery: not a folder: " << TerminalText(settings.folder) << '\n';
        return kExitUsage;
    }
    if (!settings.output.empty()) {
        if (makers.site == nullptr) {
            err << "fotolane-gallery: this build makes no sites\n";
            return kExitUsage;
        }
        return RunSite(settings, folderPath,
                       settings.recursive ? GalleryFolders(folderPath) : std::vector{folderPath},
                       *makers.site, err, terminal && !settings.quiet);
    }
    const std::vector<std::string> folders =
        settings.recursive ? GalleryFolders(folderPath) : std::vector{folderPath};
    const bool showProgress = terminal && !settings.quiet;
    gallery::IAlbumImages* const album = settings.index ? makers.album : nullptr;
    const std::map<std::string, gallery::AlbumLinks> albumLinks =
        album != nullptr && settings.recursive ? AlbumLinksOf(folders)
                                               : std::map<std::string, gallery::AlbumLinks>{};
    const auto start = std::chrono::steady_clock::now();

    // A recursive run on a terminal shows its place in the whole run: the
    // pictures are counted first (a listing per folder, cheap beside the run).
    std::vector<std::int64_t> counts;
    std::int64_t total = 0;
    if (showProgress && settings.recursive) {
        for (const std::string& folder : folders) {
            std::int64_t count = 0;
            try {
                FolderListing listing;
                // With albums, the pictures they add are counted too.
                for (std::string name =
                         listing.First(folder, album != nullptr ? gallery::IsAlbumPictureName
                                                                : gallery::IsPictureName);
                     !name.empty(); name = listing.Next()) {
                    ++count;
                }
            } catch (const Fault&) {
                // The run itself tells.
            }
            counts.push_back(count);
            total += count;
        }
    }
    // Albums are made deepest first, so that a folder's album links only the
    // albums below it that were made (with --keep-going one may fail).
    std::vector<std::size_t> order(folders.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = albumLinks.empty() ? i : order.size() - 1 - i;
    }
    std::set<std::string> failedAlbums;
    ScopedInterruptToStop interrupt;
    Tally tally;
    int status = kExitDone;
    std::int64_t picturesBefore = 0;
    std::map<std::string, std::int64_t> earliest;  // of the albums made, by folder
    // The albums made, by folder, as the album above each shows it.
    std::map<std::string, gallery::AlbumChild> tiles;
    for (std::size_t step = 0; step < order.size(); ++step) {
        const std::size_t index = order[step];
        const std::string& folder = folders[index];
        std::optional<BatchView::WholeRun> whole;
        if (!counts.empty()) {
            whole = BatchView::WholeRun{step + 1, folders.size(), picturesBefore, total, start};
            picturesBefore += counts[index];
        }
        if (InterruptRequested()) {
            status = kExitStopped;
            break;
        }
        BatchThumbnails counted(makers.thumbnails, settings.update);
        gallery::AlbumLinks links;
        if (const auto found = albumLinks.find(folder); found != albumLinks.end()) {
            links = found->second;
            std::erase_if(links.children, [&](const gallery::AlbumChild& child) {
                return failedAlbums.contains(gallery::PathInFolder(folder, child.name));
            });
            std::map<std::string, std::int64_t> childEarliest;
            for (gallery::AlbumChild& child : links.children) {
                const std::string path = gallery::PathInFolder(folder, child.name);
                const auto found = earliest.find(path);
                if (found != earliest.end()) childEarliest[child.name] = found->second;
                if (const auto tile = tiles.find(path); tile != tiles.end()) child = tile->second;
            }
            gallery::SortAlbumLinks(links.children, childEarliest, settings.sort);
        }
        const FolderOutcome done =
            RunOneFolder(settings, folder, counted, album, links, err, showProgress,
                         FolderLabel(folderPath, folder), whole);
        if (done.outcome.end == gallery::RunEnd::Failed) failedAlbums.insert(folder);
        // An album's place among its brothers in the date order: its
        // earliest picture, or that of the albums below it.
        std::optional<std::int64_t> first = done.outcome.albumEarliest;
        for (const gallery::AlbumChild& child : links.children) {
            const auto found = earliest.find(gallery::PathInFolder(folder, child.name));
            if (found != earliest.end() && (!first || found->second < *first)) {
                first = found->second;
            }
        }
        if (first) earliest[folder] = *first;
        tiles[folder] = gallery::AlbumChildOf(std::filesystem::path(folder).filename().string(),
                                              done.outcome.albumCover, done.outcome.albumPictures);
        // "First write a Title!" refuses every folder alike.
        if (done.outcome.end == gallery::RunEnd::NotStarted) return kExitUsage;
        tally.Add(done, counted);
        if (album != nullptr && showProgress) CountLeftOut(folder, tally.leftOut);
        status = WorseExitStatus(status, ExitStatusOf(done.outcome));
        if (status == kExitStopped || (status == kExitError && !settings.keepGoing)) break;
    }
    if (showProgress) {
        WriteClosingLine(err, tally, settings.recursive, album != nullptr,
                         std::chrono::steady_clock::now() - start);
    }
    return status;
}

int ExitStatusOf(const gallery::RunOutcome& outcome) {
    switch (outcome.end) {
        case gallery::RunEnd::NotStarted:  // "First write a Title!"
            return kExitUsage;
        case gallery::RunEnd::Failed:
            return kExitError;
        case gallery::RunEnd::Stopped:
            return kExitStopped;
        case gallery::RunEnd::Done:
            return outcome.Incomplete() ? kExitIncomplete : kExitDone;
        case gallery::RunEnd::NoPictures:
            break;
    }
    return kExitDone;
}

int BatchMain(std::span<const std::string> arguments, const BatchImageMakers& makers,
              std::ostream& out, std::ostream& err, bool terminal) {
    const ParsedArguments parsed = ParseArguments(arguments);
    switch (parsed.action) {
        case ParsedArguments::Action::Help:
            out << UsageText();
            return kExitDone;
        case ParsedArguments::Action::Version:
            out << "fotolane-gallery " << FOTOLANE_VERSION << '\n';
            return kExitDone;
        case ParsedArguments::Action::UsageError:
            err << "fotolane-gallery: " << parsed.error << '\n'
                << "Try 'fotolane-gallery --help' for more information.\n";
            return kExitUsage;
        case ParsedArguments::Action::Run:
            break;
    }
    return RunBatchGallery(parsed.settings, makers, err, terminal);
}

}  // namespace fotolane::batch
