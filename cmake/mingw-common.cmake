set(CMAKE_C_COMPILER ${TAMSKET_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAMSKET_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TAMSKET_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${TAMSKET_MINGW_TRIPLE}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${TAMSKET_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Everything static: a clean Windows machine has no libstdc++/libgcc/winpthread
# DLLs, and Wine reports their absence only as exit code 53.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
