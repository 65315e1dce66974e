#pragma once

#include <span>
#include <string>

namespace fotolane::batch {

// The settings of one gallery, as the window's controls would hold them.
// The two numbers stay text: the run reads them as it reads the window's
// boxes, at the moment it needs them.
struct BatchSettings {
    std::string folder;        // the picture folder, as given
    std::string perRow = "3";  // "for Row"
    std::string size = "70";   // "Size"
    bool all = true;           // "All" rather than "New"
    bool viewer = true;        // "Java" enabled
    bool titled = false;       // "Title" checked
    std::string title;         // the title, exactly as given
    int jobs = 0;              // thumbnails made at once; 0: one per core
};

// The number of worker threads for `jobs` (0: the number of cores).
int WorkersFor(int jobs);

struct ParsedArguments {
    enum class Action { Run, Help, Version, UsageError };
    Action action = Action::Run;
    BatchSettings settings;
    std::string error;  // what is wrong, for a usage error
};

// Reads the arguments that follow the program's name.
ParsedArguments ParseArguments(std::span<const std::string> arguments);

// The text of --help.
std::string UsageText();

}  // namespace fotolane::batch
