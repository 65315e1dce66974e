#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "gallery/AlbumPage.h"
#include "platform/core/Fault.h"

namespace fotolane::gallery {

// How a gallery run ended.
enum class RunEnd {
    NotStarted,  // "&Get" refused it: the title is missing
    NoPictures,  // the folder holds no picture; nothing was written
    Done,        // the page is complete
    Stopped,     // "&Stop": the page ends after the picture under way
    Failed,      // the error path: `RunOutcome::fault` says why
};

// A warning given on the way that did not end the run, about one file.
struct RunWarning {
    std::string text;  // as the user was shown it ("Failed to save to JPG")
    std::string path;  // the file it concerns
};

// What became of an album's own images (Thumbnails@2x, Previews).
struct AlbumImageCounts {
    std::int32_t made = 0;    // written
    std::int32_t kept = 0;    // there already and kept as they were
    std::int32_t failed = 0;  // not written (told as a warning)
};

// What a run did, for the front ends to read instead of its messages.
struct RunOutcome {
    RunEnd end = RunEnd::NotStarted;
    std::optional<Fault> fault;        // with RunEnd::Failed
    std::vector<RunWarning> warnings;  // in the order they were given
    std::int32_t pictures = 0;         // pictures listed
    std::int32_t cells = 0;            // picture cells written to the page
    // With IGalleryInputs::KeepGoing: the pictures left out of the page, each
    // with the fault that kept it from having a thumbnail (naming it).
    std::vector<Fault> skipped;
    // With an album (BuildAlbum): its images. The warnings above include
    // those of the images that failed.
    AlbumImageCounts albumImages;
    // With an album: the least AlbumSortKey of its pictures, which orders
    // it among the albums beside it by date; none without pictures.
    std::optional<std::int64_t> albumEarliest;
    // With an album: how many pictures it shows, and its cover (AlbumCoverOf,
    // relative to its page), which the album above shows in its tile.
    std::int32_t albumPictures = 0;
    std::optional<AlbumCover> albumCover;

    // The gallery is complete, but some thumbnails were not written or some
    // pictures were left out.
    bool Incomplete() const {
        return end == RunEnd::Done && (!warnings.empty() || !skipped.empty());
    }
};

}  // namespace fotolane::gallery
