// Feeds stored inputs to a fuzz target's LLVMFuzzerTestOneInput without a
// fuzzing engine, so that any build (GCC included) replays the corpus and
// the regression files as an ordinary test. Arguments are files or folders
// (read recursively, in name order); an argument that holds no file at all
// is an error, so that a misplaced folder cannot pass for a clean replay.

#include <unistd.h>
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz/FuzzTarget.h"

namespace {

// The input under way, named when a broken property or a sanitizer aborts.
char current[4096];

extern "C" void NameInputAndAbort(int) {
    const char prefix[] = "while replaying ";
    (void)!::write(STDERR_FILENO, prefix, sizeof prefix - 1);
    (void)!::write(STDERR_FILENO, current, std::strlen(current));
    (void)!::write(STDERR_FILENO, "\n", 1);
    std::signal(SIGABRT, SIG_DFL);
    std::raise(SIGABRT);
}

std::vector<std::filesystem::path> FilesOf(const std::filesystem::path& argument) {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(argument)) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(argument)) {
            if (entry.is_regular_file()) files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
    } else if (std::filesystem::is_regular_file(argument)) {
        files.push_back(argument);
    }
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGABRT, NameInputAndAbort);
    std::size_t replayed = 0;
    for (int a = 1; a < argc; ++a) {
        const std::vector<std::filesystem::path> files = FilesOf(argv[a]);
        if (files.empty()) {
            std::fprintf(stderr, "no inputs in %s\n", argv[a]);
            return 1;
        }
        for (const std::filesystem::path& file : files) {
            std::snprintf(current, sizeof current, "%s", file.c_str());
            std::ifstream stream(file, std::ios::binary);
            const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(stream), {}};
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++replayed;
        }
    }
    std::printf("%zu inputs replayed\n", replayed);
    return 0;
}
