# Builds minizip (unzip.c, zip.c, ioapi.c) as the static library
# tamboril_minizip, from Debian's zlib source package, for targets where
# Debian ships no minizip (the mingw-w64 cross build).
#
# The source package is fetched once with `apt-get source` into the build
# tree (it needs deb-src lines, which scripts/bootstrap adds), checked against
# its SHA-256 and kept there, so re-configuring fetches nothing. Only
# contrib/minizip is extracted. Nothing of it is committed.
#
# The version is pinned: the security archive's newer revision of the source
# is not published, and asking for the unpinned version fails.
set(TAMBORIL_ZLIB_SOURCE_VERSION "1:1.2.13.dfsg-1")
set(TAMBORIL_ZLIB_ORIG "zlib_1.2.13.dfsg.orig.tar.bz2")
set(TAMBORIL_ZLIB_ORIG_SHA256
    "71feb7947e3c00ef125f83b79a4e529bde31171e5babe48b391f06758d1ab0a1")

set(_mz_root "${CMAKE_BINARY_DIR}/_deps/minizip")
set(_mz_tarball "${_mz_root}/${TAMBORIL_ZLIB_ORIG}")
set(_mz_src "${_mz_root}/src")

function(_tamboril_minizip_tarball_ok result)
    set(${result} FALSE PARENT_SCOPE)
    if(EXISTS "${_mz_tarball}")
        file(SHA256 "${_mz_tarball}" sum)
        if(sum STREQUAL TAMBORIL_ZLIB_ORIG_SHA256)
            set(${result} TRUE PARENT_SCOPE)
        endif()
    endif()
endfunction()

_tamboril_minizip_tarball_ok(_mz_ok)
if(NOT _mz_ok)
    find_program(TAMBORIL_APT_GET apt-get)
    if(NOT TAMBORIL_APT_GET)
        message(FATAL_ERROR "apt-get is needed to fetch zlib's source for minizip")
    endif()
    # Download into a scratch folder and move the tarball into place only once
    # it is whole, so an interrupted fetch is simply retried.
    set(_mz_download "${_mz_root}/download")
    file(REMOVE_RECURSE "${_mz_download}")
    file(MAKE_DIRECTORY "${_mz_download}")
    message(STATUS "Fetching zlib ${TAMBORIL_ZLIB_SOURCE_VERSION} source for minizip")
    execute_process(
        COMMAND ${TAMBORIL_APT_GET} source --download-only
                "zlib=${TAMBORIL_ZLIB_SOURCE_VERSION}"
        WORKING_DIRECTORY "${_mz_download}"
        RESULT_VARIABLE _mz_rc
        OUTPUT_VARIABLE _mz_out
        ERROR_VARIABLE _mz_out)
    if(NOT _mz_rc EQUAL 0 OR NOT EXISTS "${_mz_download}/${TAMBORIL_ZLIB_ORIG}")
        message(FATAL_ERROR
            "Could not fetch zlib's source package (needed for minizip):\n"
            "${_mz_out}\nRun scripts/bootstrap (it enables deb-src) and retry.")
    endif()
    file(RENAME "${_mz_download}/${TAMBORIL_ZLIB_ORIG}" "${_mz_tarball}")
    file(REMOVE_RECURSE "${_mz_download}")
    _tamboril_minizip_tarball_ok(_mz_ok)
    if(NOT _mz_ok)
        file(REMOVE "${_mz_tarball}")
        message(FATAL_ERROR "zlib source tarball has the wrong SHA-256")
    endif()
    file(REMOVE_RECURSE "${_mz_src}")
endif()

if(NOT EXISTS "${_mz_src}/unzip.c")
    set(_mz_extract "${_mz_root}/extract")
    file(REMOVE_RECURSE "${_mz_extract}")
    file(ARCHIVE_EXTRACT INPUT "${_mz_tarball}" DESTINATION "${_mz_extract}"
         PATTERNS "zlib-1.2.13.dfsg/contrib/minizip")
    file(RENAME "${_mz_extract}/zlib-1.2.13.dfsg/contrib/minizip" "${_mz_src}")
    file(REMOVE_RECURSE "${_mz_extract}")
endif()

add_library(tamboril_minizip STATIC
    "${_mz_src}/ioapi.c"
    "${_mz_src}/unzip.c"
    "${_mz_src}/zip.c")
# The same include style as Debian's native package: #include <unzip.h>.
target_include_directories(tamboril_minizip SYSTEM PUBLIC "${_mz_src}")
target_link_libraries(tamboril_minizip PUBLIC ZLIB::ZLIB)
# Third-party code: build it as it is, without our warnings.
target_compile_options(tamboril_minizip PRIVATE -w)
