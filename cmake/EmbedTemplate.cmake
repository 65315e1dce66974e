# Writes OUTPUT, a C++ source that defines the album template's functions of
# gallery/AlbumTemplate.h from the files HTML, CSS and SCRIPT, each as an
# array of its bytes (a string literal this long would break -Wpedantic's
# limit on string lengths).
function(fotolane_embed_bytes file name out)
    file(READ "${file}" hex HEX)
    string(LENGTH "${hex}" length)
    math(EXPR size "${length} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
    set(${out} "constexpr unsigned char k${name}[] = {\n${bytes}0};\nconstexpr std::size_t k${name}Size = ${size};\n" PARENT_SCOPE)
endfunction()

fotolane_embed_bytes("${HTML}" Page page)
fotolane_embed_bytes("${CSS}" Style style)
fotolane_embed_bytes("${SCRIPT}" Script script)
file(WRITE "${OUTPUT}.new" "// Made by cmake/EmbedTemplate.cmake from gallery/album/; do not edit.
#include \"gallery/AlbumTemplate.h\"

#include <cstddef>

namespace fotolane::gallery {
namespace {

${page}
${style}
${script}
std::string_view View(const unsigned char* bytes, std::size_t size) {
    return {reinterpret_cast<const char*>(bytes), size};
}

}  // namespace

std::string_view AlbumPageTemplate() { return View(kPage, kPageSize); }
std::string_view AlbumStyle() { return View(kStyle, kStyleSize); }
std::string_view AlbumScript() { return View(kScript, kScriptSize); }

}  // namespace fotolane::gallery
")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
