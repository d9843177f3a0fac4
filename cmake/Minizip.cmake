# Builds minizip's reading half (unzip.c, ioapi.c) as the static library
# tamboril_minizip, for targets where Debian ships no minizip (the mingw-w64
# cross build).
#
# The source comes from scripts/fetch-minizip: the contrib/minizip files of
# Debian's zlib source package, checked against known SHA-256 sums and kept
# in a cache outside the build folders (~/.cache/tamboril), so neither
# re-configuring nor `make distclean` fetches it again. The files are copied
# into the build tree, so a build once configured no longer needs the cache.
# Nothing of it is committed. zip.c, minizip's writer, is left out: nothing
# here writes archives.
find_program(TAMBORIL_SH sh REQUIRED)
execute_process(
    COMMAND ${TAMBORIL_SH} "${CMAKE_CURRENT_LIST_DIR}/../scripts/fetch-minizip"
    RESULT_VARIABLE _mz_rc
    OUTPUT_VARIABLE _mz_cache
    OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT _mz_rc EQUAL 0)
    message(FATAL_ERROR "minizip's source is missing (see the lines above); "
        "the Windows build cannot be configured without it.")
endif()

set(_mz_src "${CMAKE_BINARY_DIR}/_deps/minizip")
set(_mz_files ioapi.c ioapi.h unzip.c unzip.h crypt.h)
file(MAKE_DIRECTORY "${_mz_src}")
foreach(f IN LISTS _mz_files)
    file(COPY_FILE "${_mz_cache}/${f}" "${_mz_src}/${f}" ONLY_IF_DIFFERENT)
endforeach()

add_library(tamboril_minizip STATIC "${_mz_src}/ioapi.c" "${_mz_src}/unzip.c")
# The same include style as Debian's native package: #include <unzip.h>.
target_include_directories(tamboril_minizip SYSTEM PUBLIC "${_mz_src}")
target_link_libraries(tamboril_minizip PUBLIC ZLIB::ZLIB)
# Third-party code: build it as it is, without our warnings.
target_compile_options(tamboril_minizip PRIVATE -w)
