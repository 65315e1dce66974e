#pragma once

#include <string_view>

namespace fotolane::gallery {

// The album's template, built into the program from gallery/album/: the page
// with its @NAME@ markers, its style sheet and its script.
std::string_view AlbumPageTemplate();
std::string_view AlbumStyle();
std::string_view AlbumScript();

}  // namespace fotolane::gallery
