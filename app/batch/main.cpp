#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/batch/BatchGallery.h"
#include "thumbnails/AlbumImages.h"
#include "thumbnails/frmThumbnails.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    fotolane::thumbnails::frmThumbnails thumbnails;
    fotolane::thumbnails::AlbumImages album;
    return fotolane::batch::BatchMain(arguments, {thumbnails, &album}, std::cout, std::cerr,
                                      ::isatty(STDERR_FILENO) == 1);
}
