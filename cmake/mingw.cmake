# Cross-compiles for Windows with Debian's MinGW-w64. VELQUOR_ARCH picks the
# machine: i686 (the shipped 32-bit build) or x86_64 (the same code, for
# hosts that cannot run 32-bit code under Wine). The -posix compilers are
# needed: GoogleTest wants std::mutex, which -win32 lacks.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT VELQUOR_ARCH)
  set(VELQUOR_ARCH "$ENV{VELQUOR_ARCH}")
endif()
if(NOT VELQUOR_ARCH)
  set(VELQUOR_ARCH i686)
endif()
set(VELQUOR_ARCH ${VELQUOR_ARCH} CACHE STRING "i686 or x86_64")
if(VELQUOR_ARCH STREQUAL "i686")
  set(CMAKE_SYSTEM_PROCESSOR x86)
else()
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
endif()

set(triple ${VELQUOR_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_ASM_NASM_COMPILER nasm)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
