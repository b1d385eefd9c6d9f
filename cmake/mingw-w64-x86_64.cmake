# Cross build of the Windows program on Linux with mingw-w64, run under Wine.
#
#   cmake -S . -B build-windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The -posix compilers: the default alternative has the win32 thread model,
# which lacks std::thread and std::mutex. Everything is linked statically, so
# a program or test runs from any folder without the compiler's DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KORVA_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${KORVA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVA_MINGW_TRIPLE}-windres)

# Libraries and headers of the target only (Debian's mingw packages); tools
# from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${KORVA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libz-mingw-w64-dev has both libz.a and the import library of zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Windows 7 and later; wide-character API throughout.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 UNICODE _UNICODE)

# CTest runs the Windows test programs under Wine.
find_program(KORVA_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT KORVA_WINE)
  find_program(KORVA_WINE NAMES wine64 wine)
endif()
if(KORVA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KORVA_WINE})
endif()
