# Windows, cross-compiled with MinGW-w64; programs run under Wine.
#   -DTRANPAK_MINGW_ARCH=i686|x86_64      32-bit (the library's original
#                                         target) or 64-bit Windows
#   -DTRANPAK_MINGW_THREADS=win32|posix   the compiler's thread model:
#       win32  needs no winpthread DLL at run time: the release builds
#       posix  has std::thread, which the tests and their scripted peers use
# Programs are linked statically, so they run without MinGW's runtime DLLs.
# The two choices are passed on to the compiler checks CMake makes in
# builds of their own.
set(TRANPAK_MINGW_ARCH "x86_64" CACHE STRING "i686 or x86_64")
set(TRANPAK_MINGW_THREADS "posix" CACHE STRING "win32 or posix")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TRANPAK_MINGW_ARCH TRANPAK_MINGW_THREADS)
if(NOT TRANPAK_MINGW_ARCH MATCHES "^(i686|x86_64)$")
  message(FATAL_ERROR "TRANPAK_MINGW_ARCH=${TRANPAK_MINGW_ARCH}: i686 or x86_64")
endif()
if(NOT TRANPAK_MINGW_THREADS MATCHES "^(win32|posix)$")
  message(FATAL_ERROR "TRANPAK_MINGW_THREADS=${TRANPAK_MINGW_THREADS}: win32 or posix")
endif()

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TRANPAK_MINGW_ARCH})
set(_prefix ${TRANPAK_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${_prefix}-gcc-${TRANPAK_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${_prefix}-g++-${TRANPAK_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${_prefix}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
