#include "app/batch/BatchArguments.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <thread>

namespace fotolane::batch {
namespace {

// The window's number boxes admit digits only; so does the batch front end.
bool IsDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

ParsedArguments UsageError(std::string error) {
    ParsedArguments parsed;
    parsed.action = ParsedArguments::Action::UsageError;
    parsed.error = std::move(error);
    return parsed;
}

}  // namespace

ParsedArguments ParseArguments(std::span<const std::string> arguments) {
    ParsedArguments parsed;
    BatchSettings& settings = parsed.settings;
    std::optional<std::string> folder;
    bool optionsEnded = false;

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            if (folder) return UsageError("more than one folder given: '" + argument + "'");
            folder = argument;
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        // --name VALUE or --name=VALUE
        std::string name = argument;
        std::optional<std::string> inlineValue;
        if (const std::size_t equals = argument.find('='); equals != std::string::npos) {
            name = argument.substr(0, equals);
            inlineValue = argument.substr(equals + 1);
        }
        const auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) return inlineValue;
            if (i + 1 < arguments.size()) return arguments[++i];
            return std::nullopt;
        };
        const bool takesValue = name == "--per-row" || name == "--size" || name == "--title" ||
                                name == "--jobs" || name == "-j";
        if (!takesValue && inlineValue) {
            return UsageError("option '" + name + "' takes no value");
        }

        if (name == "--help") {
            parsed.action = ParsedArguments::Action::Help;
            return parsed;
        } else if (name == "--version") {
            parsed.action = ParsedArguments::Action::Version;
            return parsed;
        } else if (name == "--new") {
            settings.all = false;
        } else if (name == "--no-viewer") {
            settings.viewer = false;
        } else if (takesValue) {
            const std::optional<std::string> text = value();
            if (!text) return UsageError("option '" + name + "' needs a value");
            if (name == "--title") {
                settings.titled = true;
                settings.title = *text;
            } else if (!IsDigits(*text)) {
                return UsageError("option '" + name + "' takes a whole number, not '" + *text +
                                  "'");
            } else if (name == "--jobs" || name == "-j") {
                const std::string digits =
                    text->substr(std::min(text->find_first_not_of('0'), text->size()));
                if (digits.empty() || digits.size() > 4) {
                    return UsageError("option '" + name + "' takes 1 to 9999, not '" + *text + "'");
                }
                settings.jobs = std::stoi(digits);
            } else {
                (name == "--size" ? settings.size : settings.perRow) = *text;
            }
        } else {
            return UsageError("unknown option '" + argument + "'");
        }
    }
    if (!folder) return UsageError("no folder given");
    settings.folder = *folder;
    return parsed;
}

int WorkersFor(int jobs) {
    if (jobs > 0) return jobs;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? static_cast<int>(std::min(cores, 64u)) : 1;
}

std::string UsageText() {
    return "Usage: fotolane-gallery [options] FOLDER\n"
           "Makes the HTML thumbnail gallery of the pictures (JPEG, BMP, GIF) in FOLDER:\n"
           "a JPEG thumbnail of each in FOLDER/Thumbnails and the page FOLDER/<name>.htm.\n"
           "\n"
           "Options:\n"
           "  --per-row N   thumbnails in one table row (default 3)\n"
           "  --size N      length of a thumbnail's longer side in pixels (default 70)\n"
           "  --new         make only the thumbnails that are missing (default: all)\n"
           "  --no-viewer   open pictures by a plain link, not in a window of their size\n"
           "  --title TEXT  the page's title and heading (default: the folder's name\n"
           "                followed by \"Gallery\")\n"
           "  -j, --jobs N  thumbnails made at once, on as many threads (default: the\n"
           "                number of cores); the result is the same for any N\n"
           "  --help        show this text\n"
           "  --version     show the version\n"
           "\n"
           "Messages go to standard error. Ctrl+C stops after the picture under way.\n"
           "Exit status: 0 done, 1 the run ended with an error, 2 wrong usage,\n"
           "130 stopped.\n";
}

}  // namespace fotolane::batch
