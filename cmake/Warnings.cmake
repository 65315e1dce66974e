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
