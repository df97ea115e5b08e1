# Language, warnings, hardening and dependencies shared by every project that
# builds for Windows here: the launcher with its tests, and the benchmark.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE Release)
endif()

get_filename_component(velquor_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(VELQUOR_DEPS "${velquor_root}/build/deps" CACHE PATH "Where scripts/build-libjpeg.sh installed libjpeg")

# Static zlib from Debian's MinGW package; libjpeg built by scripts/build-libjpeg.sh.
set(ZLIB_LIBRARY "${CMAKE_FIND_ROOT_PATH}/lib/libz.a" CACHE FILEPATH "" FORCE)
set(ZLIB_INCLUDE_DIR "${CMAKE_FIND_ROOT_PATH}/include" CACHE PATH "" FORCE)
find_package(ZLIB REQUIRED)
set(jpeg_prefix "${VELQUOR_DEPS}/libjpeg-turbo-${VELQUOR_ARCH}")
set(JPEG_LIBRARY "${jpeg_prefix}/lib/libjpeg.a" CACHE FILEPATH "" FORCE)
set(JPEG_INCLUDE_DIR "${jpeg_prefix}/include" CACHE PATH "" FORCE)
find_package(JPEG REQUIRED)

# Hardened and warning-clean; everything linked in, so an exe imports only
# DLLs that Windows ships.
add_compile_options(-Wall -Wextra -fstack-protector-strong -ffunction-sections -fdata-sections)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
add_link_options(-static -static-libgcc -static-libstdc++ -fstack-protector-strong
                 -Wl,--dynamicbase -Wl,--nxcompat -Wl,--gc-sections)
# Reproducible: the same sources give the same bytes in any folder at any
# time - no link time stamp, no source or build folder in the binary.
add_compile_options(-ffile-prefix-map=${velquor_root}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
add_link_options(-Wl,--no-insert-timestamp)
# Terminal-server aware: an RDS host then spares it the redirections meant for old programs.
add_link_options(-Wl,--tsaware)
if(VELQUOR_ARCH STREQUAL "x86_64")
  add_link_options(-Wl,--high-entropy-va)
endif()
