// The limits of decoding, for bench/peers-bench.sh: libjpeg-turbo decodes
// every JPEG named on the command line in memory through TurboJPEG, at full
// size (the least any thumbnailer that looks at every pixel must do) or at
// 1/8 scale (the least a shrink-on-load thumbnailer must do), and writes
// nothing. One buffer serves all pictures.
//
//   jpeg_decode_limits full|eighth FILE...

#include <turbojpeg.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: jpeg_decode_limits full|eighth FILE...\n");
        return 2;
    }
    const bool eighth = std::string(argv[1]) == "eighth";
    tjhandle handle = tjInitDecompress();
    std::vector<unsigned char> pixels;
    int failures = 0;
    for (int i = 2; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                               std::istreambuf_iterator<char>());
        int width = 0, height = 0, subsampling = 0, colorspace = 0;
        if (tjDecompressHeader3(handle, bytes.data(), static_cast<unsigned long>(bytes.size()),
                                &width, &height, &subsampling, &colorspace) != 0) {
            ++failures;
            continue;
        }
        if (eighth) {
            width = (width + 7) / 8;
            height = (height + 7) / 8;
        }
        pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
        if (tjDecompress2(handle, bytes.data(), static_cast<unsigned long>(bytes.size()),
                          pixels.data(), width, 0, height, TJPF_BGR, 0) != 0) {
            ++failures;
        }
    }
    tjDestroy(handle);
    if (failures > 0) std::fprintf(stderr, "%d files not decoded\n", failures);
    return failures > 0 ? 1 : 0;
}
