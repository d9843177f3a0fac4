# Runs the Windows test programs under Wine, in a prefix of this build's own.
#
# Every Windows program the build or ctest starts goes through the generated
# script ${CMAKE_BINARY_DIR}/wine-run, which sets the prefix and silences
# Wine's debug channels, so tests and their discovery see the same setup
# whether ctest is started by scripts/run-win32-tests or by hand.
find_program(TAMBORIL_WINE wine)
if(NOT TAMBORIL_WINE)
    message(WARNING "wine not found: the Windows tests cannot run here")
    return()
endif()
set(TAMBORIL_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in
    ${CMAKE_BINARY_DIR}/wine-run @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                     GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
