# Makes the Debian package of the build in BUILD_DIR with CPack, checks its
# dependencies and contents, unpacks it into a fresh folder, makes a gallery
# with the unpacked fotolane-gallery and starts the unpacked window.
function(run what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${what}: status ${status}\n${out}${err}")
    endif()
    set(out "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
run("cpack" ${CMAKE_CPACK_COMMAND} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake
    -B ${WORK_DIR}/out)
file(GLOB packages ${WORK_DIR}/out/fotolane_${VERSION}_*.deb)
list(LENGTH packages count)
if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one package, found: ${packages}")
endif()

run("dpkg-deb -f" ${DPKG_DEB} -f ${packages} Depends)
foreach(library libqt6core6 libqt6gui6 libqt6widgets6 libturbojpeg0 libexiv2-27 libc6)
    if(NOT out MATCHES "${library}")
        message(FATAL_ERROR "the package's dependencies lack ${library}: ${out}")
    endif()
endforeach()

run("dpkg-deb -c" ${DPKG_DEB} -c ${packages})
foreach(file
        usr/bin/fotolane
        usr/bin/fotolane-gallery
        usr/share/applications/org.fotolane.Fotolane.desktop
        usr/share/metainfo/org.fotolane.Fotolane.metainfo.xml
        usr/share/icons/hicolor/scalable/apps/fotolane.svg
        usr/share/man/man1/fotolane.1.gz
        usr/share/man/man1/fotolane-gallery.1.gz
        usr/share/bash-completion/completions/fotolane-gallery
        usr/share/doc/fotolane/copyright)
    if(NOT out MATCHES "\\./${file}\n")
        message(FATAL_ERROR "the package lacks ${file}:\n${out}")
    endif()
endforeach()

run("dpkg-deb -x" ${DPKG_DEB} -x ${packages} ${WORK_DIR}/root)
set(program ${WORK_DIR}/root/usr/bin/fotolane-gallery)
run("--version" ${program} --version)
if(NOT out STREQUAL "fotolane-gallery ${VERSION}\n")
    message(FATAL_ERROR "unexpected version: ${out}")
endif()

# A JPEG, a bitmap and a GIF (the last two read through Qt's plugins).
set(pictures ${WORK_DIR}/Holiday)
file(MAKE_DIRECTORY ${pictures})
file(COPY_FILE ${TESTDATA_DIR}/pillow/jpeg/hopper.jpg ${pictures}/a.jpg)
file(COPY_FILE ${TESTDATA_DIR}/pillow/bmp/hopper.bmp ${pictures}/b.bmp)
file(COPY_FILE ${TESTDATA_DIR}/pillow/gif/transparent.gif ${pictures}/c.gif)
run("a gallery" ${program} --size 90 ${pictures})
foreach(file Holiday.htm Thumbnails/a.jpg Thumbnails/b.jpg Thumbnails/c.jpg)
    if(NOT EXISTS ${pictures}/${file})
        message(FATAL_ERROR "the unpacked fotolane-gallery did not write ${file}")
    endif()
endforeach()

# The window starts (offscreen, with settings of its own) and keeps running
# until it is ended.
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=${WORK_DIR}/config
            ${WORK_DIR}/root/usr/bin/fotolane
    TIMEOUT 3 RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status MATCHES "timeout")
    message(FATAL_ERROR "the unpacked fotolane ended at once: ${status}\n${out}${err}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
