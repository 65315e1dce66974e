# Common compile options for every target of the project.
add_library(fotolane_options INTERFACE)
target_compile_options(fotolane_options INTERFACE
    -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Werror
    -ffp-contract=off)
if(FOTOLANE_SANITIZE)
    target_compile_options(fotolane_options INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(fotolane_options INTERFACE -fsanitize=address,undefined)
endif()
# Coverage for libFuzzer in every library; the fuzz targets add the engine.
if(FOTOLANE_FUZZ)
    target_compile_options(fotolane_options INTERFACE -fsanitize=fuzzer-no-link)
endif()
# GCC 12 reports false -Wrestrict overlaps inside std::string at -O2 and
# above (GCC bug 105329); the warning says nothing about our code there.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(fotolane_options INTERFACE -Wno-restrict)
endif()
