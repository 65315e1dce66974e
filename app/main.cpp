#include "app/Application.h"
#include "platform/core/ProcessMemory.h"

int main(int argc, char** argv) {
    fotolane::KeepFreedMemoryForReuse();
    return fotolane::app::RunFotolane(argc, argv);
}
