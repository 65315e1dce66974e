#pragma once

#include <span>
#include <string>

#include "gallery/GalleryInterfaces.h"

namespace fotolane::batch {

// The settings of one gallery, as the window's controls would hold them, and
// what the batch front end adds to them.
struct BatchSettings {
    std::string folder;                                            // the picture folder, as given
    std::string perRow = std::to_string(gallery::kDefaultPerRow);  // "for Row": digits, 1 to 999
    std::string size = std::to_string(gallery::kDefaultThumbnailSize);  // "Size": digits, 1 to 999
    bool all = true;                                                    // "All" rather than "New"
    bool viewer = true;                                                 // "Java" enabled
    bool titled = false;                                                // "Title" checked
    std::string title;  // the title, exactly as given

    bool update = false;     // with "New": also remake outdated thumbnails
    bool keepGoing = false;  // leave out pictures that cannot be made into thumbnails
    bool recursive = false;  // also every folder below `folder`
    bool quiet = false;      // no progress, no closing line
    bool index = false;      // also the album, index.html
    int jobs = 0;            // thumbnails made at once; 0: one per core
    gallery::AlbumSort sort = gallery::AlbumSort::Name;  // the album's order (--sort)

    // A published site (gallery/Site.h) in this folder instead of the
    // gallery and album beside the pictures; empty: none.
    std::string output;
    bool keepLocation = false;  // the site's originals keep their locations
    bool originals = true;      // the site offers the pictures themselves
};

// The number of worker threads for `jobs` (0: the number of cores).
int WorkersFor(int jobs);

struct ParsedArguments {
    enum class Action { Run, Help, Version, UsageError };
    Action action = Action::Run;
    BatchSettings settings;
    std::string error;  // what is wrong, for a usage error
};

// Reads the arguments that follow the program's name. Arguments are taken as
// bytes: the folder and the title reach the settings exactly as given,
// whatever their encoding.
ParsedArguments ParseArguments(std::span<const std::string> arguments);

// The text of --help.
std::string UsageText();

}  // namespace fotolane::batch
