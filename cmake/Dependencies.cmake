# zlib and minizip for the native build (Debian packages).
find_package(ZLIB REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
add_library(tamboril_minizip INTERFACE)
target_link_libraries(tamboril_minizip INTERFACE PkgConfig::MINIZIP)
