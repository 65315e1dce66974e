#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/batch/BatchArguments.h"
#include "app/batch/BatchGallery.h"
#include "platform/core/ProcessMemory.h"
#include "platform/files/FileSystem.h"
#include "thumbnails/AlbumImages.h"
#include "thumbnails/AlbumWorkers.h"
#include "thumbnails/SiteImages.h"
#include "thumbnails/SiteWorkers.h"
#include "thumbnails/frmThumbnails.h"

int main(int argc, char** argv) {
    fotolane::KeepFreedMemoryForReuse();
    fotolane::FailWritesPastTheSizeLimit();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    // The thumbnail maker needs the number of workers before the run.
    const fotolane::batch::ParsedArguments parsed = fotolane::batch::ParseArguments(arguments);
    const int workers = fotolane::batch::WorkersFor(parsed.settings.jobs);
    fotolane::thumbnails::frmThumbnails thumbnails(workers);
    fotolane::thumbnails::AlbumImages images;
    fotolane::thumbnails::AlbumWorkers album(images, workers);
    // The album's images of the gallery's pictures come from the decodes of
    // their thumbnails.
    if (parsed.settings.index) thumbnails.MakeAlbumsAhead(images);
    fotolane::thumbnails::SiteImages site;
    fotolane::thumbnails::SiteWorkers siteWorkers(site, workers);
    return fotolane::batch::BatchMain(arguments, {thumbnails, &album, &siteWorkers}, std::cout,
                                      std::cerr, ::isatty(STDERR_FILENO) == 1);
}
