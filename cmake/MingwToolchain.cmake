# What the two mingw-w64 toolchain files share; each sets P2_MINGW_PREFIX, the processor and
# P2_WINEARCH (the Wine prefix kind its programs run in) before it includes this one.
set(CMAKE_SYSTEM_NAME Windows)
# The thread model of the toolchain's runtime. The win32 model (the default) imports nothing
# that Windows XP lacks: it is the one the shipped program is linked with. The posix model's
# runtime needs GetTickCount64 (Vista and later), but GoogleTest needs its std::mutex, which
# the win32 model of GCC 12 lacks: the test builds use it, and build the shipped program
# apart (see the top-level CMakeLists.txt).
if(NOT P2_MINGW_THREADS)
    set(P2_MINGW_THREADS win32)
endif()
set(P2_MINGW_THREADS ${P2_MINGW_THREADS} CACHE STRING "Thread model of mingw-w64: win32 or posix")
# The checks CMake compiles in projects of their own must use the same compilers.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES P2_MINGW_THREADS P2_WINEARCH)
set(CMAKE_C_COMPILER ${P2_MINGW_PREFIX}-gcc-${P2_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${P2_MINGW_PREFIX}-g++-${P2_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${P2_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${P2_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No runtime DLL of the toolchain may be needed beside the program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run in a Wine prefix of the build's own, never the user's ~/.wine.
if(DEFINED ENV{P2_WINEPREFIX})
    set(P2_WINEPREFIX "$ENV{P2_WINEPREFIX}" CACHE PATH "Wine prefix of the tests")
else()
    set(P2_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix of the tests")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/../tests/win32/wine_emulator.sh ${P2_WINEARCH} ${P2_WINEPREFIX})
