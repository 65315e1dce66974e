#include "app/batch/BatchArguments.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <thread>
#include <tuple>
#include <utility>

namespace fotolane::batch {
namespace {

// The window's number boxes hold up to three digits; a gallery needs at
// least one thumbnail per row and a thumbnail of at least one pixel.
constexpr int kLargestNumber = 999;

// Arguments travel through Qt as Latin-1: one character per byte, so that
// every byte comes back unchanged, UTF-8 or not. Option names are ASCII.
QString FromBytes(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string ToBytes(const QString& text) {
    return text.toLatin1().toStdString();
}

// The number of a --size or --per-row value, or 0 when it is none the window
// could hold (only digits, 1 to 999).
int WindowNumber(const std::string& text) {
    if (text.empty() ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return 0;
    }
    const std::size_t first = std::min(text.find_first_not_of('0'), text.size());
    if (first == text.size() || text.size() - first > 3) return 0;
    const int number = std::stoi(text.substr(first));
    return number <= kLargestNumber ? number : 0;
}

ParsedArguments UsageError(std::string error) {
    ParsedArguments parsed;
    parsed.action = ParsedArguments::Action::UsageError;
    parsed.error = std::move(error);
    return parsed;
}

// Qt's wording ("Missing value after '--size'.") in the style of the
// program's other messages.
std::string ParserError(const QCommandLineParser& parser) {
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty()) {
        const QString name = unknown.first();
        return "unknown option '" + std::string(name.size() == 1 ? "-" : "--") + ToBytes(name) +
               "'";
    }
    std::string text = ToBytes(parser.errorText());
    if (!text.empty() && text.back() == '.') text.pop_back();
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

}  // namespace

ParsedArguments ParseArguments(std::span<const std::string> arguments) {
    const QCommandLineOption help({"h", "help"}, {});
    const QCommandLineOption version({"V", "version"}, {});
    const QCommandLineOption perRow({"p", "per-row"}, {}, "N");
    const QCommandLineOption size({"s", "size"}, {}, "N");
    const QCommandLineOption newOnly({"n", "new"}, {});
    const QCommandLineOption update({"u", "update"}, {});
    const QCommandLineOption noViewer({"l", "no-viewer"}, {});
    const QCommandLineOption title({"t", "title"}, {}, "TEXT");
    const QCommandLineOption keepGoing({"k", "keep-going"}, {});
    const QCommandLineOption recursive({"r", "recursive"}, {});
    const QCommandLineOption quiet({"q", "quiet"}, {});
    // The album page: the flag is read now, the page comes with its writer.
    const QCommandLineOption index({"i", "index"}, {});
    const QCommandLineOption jobs({"j", "jobs"}, {}, "N");
    const QCommandLineOption output({"o", "output"}, {}, "DIR");
    const QCommandLineOption sort("sort", {}, "ORDER");
    const QCommandLineOption keepLocation("keep-location");
    const QCommandLineOption noOriginals("no-originals");

    QCommandLineParser parser;
    parser.addOptions({help, version, perRow, size, newOnly, update, noViewer, title, keepGoing,
                       recursive, quiet, index, jobs, output, keepLocation, noOriginals, sort});
    QStringList list{"fotolane-gallery"};  // parse() skips the program's name
    for (const std::string& argument : arguments) list << FromBytes(argument);
    // Help and version win over everything else, wrong usage included.
    const bool parsedWell = parser.parse(list);
    ParsedArguments parsed;
    if (parser.isSet(help)) {
        parsed.action = ParsedArguments::Action::Help;
        return parsed;
    }
    if (parser.isSet(version)) {
        parsed.action = ParsedArguments::Action::Version;
        return parsed;
    }
    if (!parsedWell) return UsageError(ParserError(parser));

    BatchSettings& settings = parsed.settings;
    for (const auto& [option, name, target] : {std::tuple(&perRow, "--per-row", &settings.perRow),
                                               std::tuple(&size, "--size", &settings.size)}) {
        if (!parser.isSet(*option)) continue;
        const std::string text = ToBytes(parser.value(*option));
        const int number = WindowNumber(text);
        if (number == 0) {
            return UsageError("option '" + std::string(name) + "' takes a whole number from 1 to " +
                              std::to_string(kLargestNumber) + ", not '" + text + "'");
        }
        *target = std::to_string(number);
    }
    settings.update = parser.isSet(update);
    settings.all = !parser.isSet(newOnly) && !settings.update;
    settings.viewer = !parser.isSet(noViewer);
    if (parser.isSet(title)) {
        settings.titled = true;
        settings.title = ToBytes(parser.value(title));
    }
    settings.keepGoing = parser.isSet(keepGoing);
    settings.recursive = parser.isSet(recursive);
    settings.quiet = parser.isSet(quiet);
    settings.index = parser.isSet(index);
    if (parser.isSet(jobs)) {
        const std::string text = ToBytes(parser.value(jobs));
        settings.jobs = WindowNumber(text);
        if (settings.jobs == 0) {
            return UsageError("option '--jobs' takes a whole number from 1 to " +
                              std::to_string(kLargestNumber) + ", not '" + text + "'");
        }
    }
    if (parser.isSet(sort)) {
        const std::string text = ToBytes(parser.value(sort));
        if (text == "date") {
            settings.sort = gallery::AlbumSort::Date;
        } else if (text != "name") {
            return UsageError("option '--sort' takes 'name' or 'date', not '" + text + "'");
        }
    }

    if (parser.isSet(output)) {
        settings.output = ToBytes(parser.value(output));
        if (settings.output.empty()) return UsageError("option '--output' takes a folder");
        // A site keeps itself up to date: it remakes what changed and only that.
        if (parser.isSet(newOnly) || settings.update) {
            return UsageError(std::string("option '") + (settings.update ? "--update" : "--new") +
                              "' has no use with '--output', which remakes only what changed");
        }
        settings.index = true;
    }
    for (const auto& [option, name] :
         {std::pair(&keepLocation, "--keep-location"), std::pair(&noOriginals, "--no-originals")}) {
        if (parser.isSet(*option) && settings.output.empty()) {
            return UsageError("option '" + std::string(name) + "' needs '--output'");
        }
    }
    settings.keepLocation = parser.isSet(keepLocation);
    settings.originals = !parser.isSet(noOriginals);

    const QStringList folders = parser.positionalArguments();
    if (folders.isEmpty()) return UsageError("no folder given");
    if (folders.size() > 1) {
        return UsageError("more than one folder given: '" + ToBytes(folders[1]) + "'");
    }
    settings.folder = ToBytes(folders[0]);
    return parsed;
}

int WorkersFor(int jobs) {
    if (jobs > 0) return jobs;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? static_cast<int>(std::min(cores, 64u)) : 1;
}

std::string UsageText() {
    const std::string perRow = std::to_string(gallery::kDefaultPerRow);
    const std::string size = std::to_string(gallery::kDefaultThumbnailSize);
    return "Usage: fotolane-gallery [options] FOLDER\n"
           "       fotolane-gallery [-r] -o DIR [options] FOLDER\n"
           "Makes the HTML thumbnail gallery of the pictures (JPEG, BMP, GIF) in FOLDER:\n"
           "a JPEG thumbnail of each in FOLDER/Thumbnails and the page FOLDER/<name>.htm.\n"
           "\n"
           "Options:\n"
           "  -p, --per-row N   thumbnails in one table row, 1 to 999 (default " +
           perRow +
           ")\n"
           "  -s, --size N      length of a thumbnail's longer side in pixels, 1 to 999\n"
           "                    (default " +
           size +
           ")\n"
           "  -n, --new         make only the thumbnails that are missing (default: all)\n"
           "  -u, --update      like --new, and also make again every thumbnail (and with\n"
           "                    --index every album image) that is older than its\n"
           "                    picture, not of the size asked for or unreadable\n"
           "  -l, --no-viewer   open pictures by a plain link, not in a window of their size\n"
           "  -t, --title TEXT  the page's title and heading (default: the folder's name\n"
           "                    followed by \"Gallery\")\n"
           "  -k, --keep-going  leave out a picture that cannot be made into a thumbnail,\n"
           "                    saying why, and go on (and on to the next folder)\n"
           "  -r, --recursive   the gallery of FOLDER and of every folder below it that\n"
           "                    holds pictures; image folders, hidden folders, links\n"
           "                    to folders and sites made by -o are not entered\n"
           "  -i, --index       also write index.html, an album for today's browsers: a\n"
           "                    grid for any screen, a lightbox, thumbnails for 1x and\n"
           "                    2x screens in Thumbnails@1x and Thumbnails@2x and\n"
           "                    previews of large pictures in Previews; it also shows\n"
           "                    PNG, WebP, HEIC and AVIF files; with --recursive the\n"
           "                    albums link to each other\n"
           "  -o, --output DIR  publish the album as a site of its own in DIR (made when\n"
           "                    missing; empty, or a site made before): pages, thumbnails,\n"
           "                    previews and the originals without their GPS positions;\n"
           "                    FOLDER is only read, and a run remakes only what changed\n"
           "                    and removes what it published of pictures now gone;\n"
           "                    --index is implied, --new and --update have no use\n"
           "      --sort ORDER  the album's order, name (default, the page's) or date:\n"
           "                    by the date taken (EXIF, moved to UTC by its offset when\n"
           "                    the file gives one), else the file's modification time;\n"
           "                    the albums below by their earliest picture\n"
           "      --keep-location  with --output: originals keep their locations\n"
           "      --no-originals   with --output: previews only, no originals\n"
           "  -q, --quiet       no progress line and no closing line\n"
           "  -j, --jobs N      thumbnails made at once, on as many threads, 1 to 999\n"
           "                    (default: the number of cores); the gallery is the same\n"
           "  -h, --help        show this text\n"
           "  -V, --version     show the version\n"
           "\n"
           "Messages go to standard error; on a terminal so do the progress and a\n"
           "closing line. Ctrl+C stops after the picture under way.\n"
           "\n"
           "Exit status:\n"
           "  0    done\n"
           "  1    a run ended with an error (the message names the file)\n"
           "  2    wrong usage, or an empty --title\n"
           "  3    the gallery was finished, but pictures were left out (--keep-going)\n"
           "       or thumbnails could not be written\n"
           "  130  stopped by Ctrl+C\n";
}

}  // namespace fotolane::batch
