# zlib and minizip.
#
# Natively both come from Debian's packages (zlib1g-dev, libminizip-dev).
# For the Windows target zlib is Debian's libz-mingw-w64-dev, linked
# statically; Debian has no minizip for mingw, so it is built from the
# contrib/minizip folder of Debian's zlib source package (see Minizip.cmake).
# Either way the code includes <unzip.h> / <zip.h> and links tamboril_minizip.
if(WIN32)
    set(ZLIB_USE_STATIC_LIBS ON)
    find_package(ZLIB REQUIRED)
    include(${CMAKE_CURRENT_LIST_DIR}/Minizip.cmake)
else()
    find_package(ZLIB REQUIRED)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
    add_library(tamboril_minizip INTERFACE)
    target_link_libraries(tamboril_minizip INTERFACE PkgConfig::MINIZIP ZLIB::ZLIB)
endif()
