#include "app/Application.h"

int main(int argc, char** argv) {
    return fotolane::app::RunFotolane(argc, argv);
}
