#include "app/Application.h"
#include "platform/core/ProcessMemory.h"
#include "platform/files/FileSystem.h"

int main(int argc, char** argv) {
    fotolane::KeepFreedMemoryForReuse();
    fotolane::FailWritesPastTheSizeLimit();
    return fotolane::app::RunFotolane(argc, argv);
}
