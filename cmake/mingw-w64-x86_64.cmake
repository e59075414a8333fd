# Cross build for 64-bit Windows with Debian's mingw-w64, posix-threads flavour (the
# win32-threads one has no std::thread). Programs are linked statically, so that the only DLL
# the server needs beside it is sqlite3.dll; tests run through wine.
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DDCT_WINDOWS_DEPS=<deps> ...
# (scripts/build-windows does this; scripts/windows-deps makes <deps>.)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Third-party libraries come from the mingw sysroot and the deps prefix only, never from the
# build machine's own folders; programs (compilers, python) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${DCT_WINDOWS_DEPS}/prefix)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Debian's wine64 keeps its launcher in wine's library folder, not on PATH.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)

# Boost's system error texts (a port that is taken, a refused bind) in UTF-8, like every text
# of ours, rather than in the ANSI code page: the event log and the console read them as
# UTF-8. Every translation unit must see the same choice, so it is made here, once.
add_compile_definitions(BOOST_SYSTEM_USE_UTF8)
