# Cross-compiling the 32-bit Windows build with MinGW-w64; this is the program
# as shipped. It cannot run on this Linux kernel, so it is built and inspected.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TAMSKET_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
