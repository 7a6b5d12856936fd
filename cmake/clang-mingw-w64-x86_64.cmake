# A second, independent compiler and linker for the same target: Debian's clang and
# LLD, with mingw-w64's headers and import libraries and GCC's libstdc++.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(HALVEX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${HALVEX_MINGW_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${HALVEX_MINGW_PREFIX})
set(CMAKE_RC_COMPILER ${HALVEX_MINGW_PREFIX}-windres)
set(CMAKE_NM ${HALVEX_MINGW_PREFIX}-nm)
# halvex_delay_import: LLD's own delay loading, from llvm-dlltool's short import libraries.
set(CMAKE_DLLTOOL llvm-dlltool)
set(HALVEX_LINKER_DELAYLOAD ON)

# The sysroot keeps the host's /usr/include out of the search path.
set(CMAKE_SYSROOT /usr/${HALVEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH /usr/${HALVEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Clang does not look for GCC's libstdc++ beside mingw-w64, so both its folders are
# named. GCC's mingw target compares type_info by name and keeps operator== out of
# line; clang must agree, or the header's inline copy clashes with libstdc++'s.
set(HALVEX_GCC_DIR /usr/lib/gcc/${HALVEX_MINGW_PREFIX}/12-posix)
set(HALVEX_CLANG_FLAGS
    "-isystem ${HALVEX_GCC_DIR}/include/c++ -isystem ${HALVEX_GCC_DIR}/include/c++/${HALVEX_MINGW_PREFIX} -D__GXX_TYPEINFO_EQUALITY_INLINE=0 -D__GXX_MERGED_TYPEINFO_NAMES=0")
set(CMAKE_CXX_FLAGS_INIT "${HALVEX_CLANG_FLAGS}")

# Static runtime and winpthread, as with GCC: the exe then imports only system DLLs.
# GCC's posix model links winpthread by itself; clang must be told, by file name so
# that DLLs get the static library too.
set(HALVEX_CLANG_LINK_FLAGS "-fuse-ld=lld -L${HALVEX_GCC_DIR} -l:libpthread.a")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${HALVEX_CLANG_LINK_FLAGS} -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${HALVEX_CLANG_LINK_FLAGS}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${HALVEX_CLANG_LINK_FLAGS}")
