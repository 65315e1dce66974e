# The manual pages render without warnings, the metainfo and the desktop
# entry validate, the completion script is sound, and every option that
# --help names is in the manual page and the completion.
function(check what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${what}: status ${status}\n${out}${err}")
    endif()
    set(out "${out}" PARENT_SCOPE)
    set(err "${err}" PARENT_SCOPE)
endfunction()

foreach(page fotolane.1 fotolane-gallery.1)
    check("man ${page}" ${CMAKE_COMMAND} -E env MANWIDTH=80 ${MAN} --warnings -l
          ${BINARY_DIR}/${page})
    if(NOT err STREQUAL "")
        message(FATAL_ERROR "man ${page} warns:\n${err}")
    endif()
    if(out STREQUAL "")
        message(FATAL_ERROR "man ${page} renders nothing")
    endif()
endforeach()

check("appstreamcli" ${APPSTREAMCLI} validate --no-net
      ${BINARY_DIR}/org.fotolane.Fotolane.metainfo.xml)
check("desktop-file-validate" ${DESKTOP_FILE_VALIDATE}
      ${SOURCE_DIR}/org.fotolane.Fotolane.desktop)
if(NOT err STREQUAL "" OR NOT out STREQUAL "")
    message(FATAL_ERROR "desktop-file-validate:\n${out}${err}")
endif()
check("bash -n" bash -n ${SOURCE_DIR}/fotolane-gallery.bash-completion)

check("--help" ${GALLERY_PROGRAM} --help)
string(REGEX MATCHALL "--[a-z-]+" options "${out}")
list(REMOVE_DUPLICATES options)
file(READ ${SOURCE_DIR}/fotolane-gallery.1 manual)
string(REPLACE "\\-" "-" manual "${manual}")
file(READ ${SOURCE_DIR}/fotolane-gallery.bash-completion completion)
foreach(option IN LISTS options)
    string(FIND "${manual}" "${option}" inManual)
    string(FIND "${completion}" "${option}" inCompletion)
    if(inManual EQUAL -1 OR inCompletion EQUAL -1)
        message(FATAL_ERROR "${option} of --help is missing from the manual page or the completion")
    endif()
endforeach()
