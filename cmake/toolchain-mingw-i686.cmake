# Cross build of the 32-bit Windows program with mingw-w64; tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(P2_MINGW_PREFIX i686-w64-mingw32)
# The POSIX thread model: GoogleTest needs std::mutex, which the win32 model of GCC 12
# lacks. Static linking keeps libwinpthread out of the program's imports.
set(CMAKE_C_COMPILER ${P2_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${P2_MINGW_PREFIX}-g++-posix)
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
    ${CMAKE_CURRENT_LIST_DIR}/../tests/win32/wine_emulator.sh ${P2_WINEPREFIX})
