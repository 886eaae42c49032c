# Cross build for Windows with Debian's MinGW-w64 (posix thread model). CORVANE_MINGW_ARCH picks
# the target: i686 (the shipped 32-bit program) or x86_64 (the build whose tests run under
# wine64); the presets set it.
set(CORVANE_MINGW_ARCH "" CACHE STRING "MinGW-w64 target processor: i686 or x86_64")
if(NOT CORVANE_MINGW_ARCH MATCHES "^(i686|x86_64)$")
  message(FATAL_ERROR "CORVANE_MINGW_ARCH must be i686 or x86_64, not '${CORVANE_MINGW_ARCH}'")
endif()
# try_compile projects read this file again without the main project's cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CORVANE_MINGW_ARCH)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${CORVANE_MINGW_ARCH})
set(TOOLCHAIN_PREFIX ${CORVANE_MINGW_ARCH}-w64-mingw32)

set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Everything static: the program and the test executables import only system DLLs. ASLR and
# DEP are asked for by name: binutils sets them by default only since 2.36.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-static -static-libgcc -static-libstdc++ -Wl,--dynamicbase,--nxcompat")
if(CORVANE_MINGW_ARCH STREQUAL "x86_64")
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT ",--high-entropy-va")
endif()
