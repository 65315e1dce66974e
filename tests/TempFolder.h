#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace fotolane::testing {

// A fresh folder below the system's temporary folder, removed with its
// contents when the object goes.
class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "fotolane-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

    // Writes `bytes` to the file `name` below the folder.
    void Write(const std::string& name, const std::string& bytes = "x") const {
        std::ofstream out(path_ / name, std::ios::binary);
        out << bytes;
    }

  private:
    std::filesystem::path path_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    // In one block: byte by byte takes seconds for photos in a debug build.
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size <= 0) return {};
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.seekg(0);
    in.read(bytes.data(), size);
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

// A page's URL as the path it names: "%xx" made the byte it stands for.
inline std::string PercentDecoded(const std::string& url) {
    std::string path;
    for (std::size_t i = 0; i < url.size(); ++i) {
        if (url[i] == '%' && i + 2 < url.size()) {
            path += static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            path += url[i];
        }
    }
    return path;
}

// The files below `folder` that its album (index.html) shows, as every src,
// srcset entry and data-preview names them, that are not there.
inline std::vector<std::string> MissingAlbumFiles(const std::string& folder) {
    const std::string page = ReadFile(folder + "/index.html");
    std::vector<std::string> urls;
    for (const std::string attribute : {" src=\"", " srcset=\"", " data-preview=\""}) {
        for (std::size_t at = page.find(attribute); at != std::string::npos;
             at = page.find(attribute, at + 1)) {
            const std::size_t start = at + attribute.size();
            std::string value = page.substr(start, page.find('"', start) - start);
            // "url 70w, url 140w"
            for (std::size_t from = 0; from < value.size();) {
                const std::size_t comma = value.find(", ", from);
                const std::string entry = value.substr(from, comma - from);
                urls.push_back(entry.substr(0, entry.find(' ')));
                from = comma == std::string::npos ? value.size() : comma + 2;
            }
        }
    }
    std::vector<std::string> missing;
    for (const std::string& url : urls) {
        const std::string path = PercentDecoded(url);
        if (!std::filesystem::is_regular_file(folder + "/" + path)) missing.push_back(path);
    }
    return missing;
}

}  // namespace fotolane::testing
