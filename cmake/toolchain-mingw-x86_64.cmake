# The x86_64 twin of the Windows build: the same sources and settings, for machines that
# cannot start 32-bit programs, where its tests run under wine64 in a 64-bit prefix. A test
# vehicle only: nothing built with it is packaged or shipped.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(P2_MINGW_PREFIX x86_64-w64-mingw32)
set(P2_WINEARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
