# Cross toolchain: 32-bit Windows (i686) with Debian's mingw-w64.
#
# The -posix compilers are used because only they give GCC 12's std::thread
# and std::mutex, which GoogleTest needs. Every binary links the C and C++
# runtimes and winpthreads statically, so an .exe or .dll imports system DLLs
# only (check with: i686-w64-mingw32-objdump -p x.exe | grep 'DLL Name').
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TAMBORIL_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TAMBORIL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAMBORIL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TAMBORIL_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TAMBORIL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Doubles are computed in SSE2 registers, as on x86-64, instead of the x87
# stack with its 80-bit intermediates: the tables built in floating point then
# come out with the same bits on both targets. -mstackrealign keeps SSE code
# safe when a host calls in with a stack aligned to 4 bytes only.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
