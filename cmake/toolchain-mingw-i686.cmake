# Cross build of the 32-bit Windows program, the one that ships, with mingw-w64; its tests
# run under Wine in a 32-bit prefix.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(P2_MINGW_PREFIX i686-w64-mingw32)
set(P2_WINEARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
