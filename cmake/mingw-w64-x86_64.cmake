# Cross build for 64-bit Windows with the posix-thread mingw-w64 toolchain
# (std::thread needs the posix model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(HALVEX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${HALVEX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HALVEX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${HALVEX_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${HALVEX_MINGW_PREFIX}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${HALVEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Static C++ runtime and winpthread: the exe then imports only system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
