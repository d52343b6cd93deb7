# Shared part of the MinGW-w64 cross builds; the including toolchain file sets
# sfx_mingw_triple (i686-w64-mingw32 or x86_64-w64-mingw32).
set(CMAKE_SYSTEM_NAME Windows)

# The -posix variant by name: the plain name may point to the one without threads.
set(CMAKE_C_COMPILER ${sfx_mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${sfx_mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${sfx_mingw_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${sfx_mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A static executable needs no DLL beyond the system's. No build time in the PE header, so
# that one commit always gives the same program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")
