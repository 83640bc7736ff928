# Libraries of the two builds, behind interface targets:
#   tarvo_platform_deps  what the platform layer links (system libraries, libcurl)
#   tarvo_core_deps      what the core links (zlib, libsodium, zstd)
#   tarvo_minizip_deps   minizip, for what writes archives (tarvo-publish, benchmarks, tests);
#                        the core reads archives with its own code
add_library(tarvo_platform_deps INTERFACE)
add_library(tarvo_core_deps INTERFACE)
add_library(tarvo_minizip_deps INTERFACE)

if(WIN32)
  # Static MinGW builds made by scripts/setup.sh.
  find_path(TARVO_MINIZIP_INCLUDE minizip/unzip.h REQUIRED)
  find_library(TARVO_MINIZIP_LIBRARY minizip REQUIRED)
  find_library(TARVO_ZLIB_LIBRARY z REQUIRED)
  target_include_directories(tarvo_minizip_deps INTERFACE ${TARVO_MINIZIP_INCLUDE})
  target_link_libraries(tarvo_minizip_deps INTERFACE ${TARVO_MINIZIP_LIBRARY} ${TARVO_ZLIB_LIBRARY})
  target_link_libraries(tarvo_core_deps INTERFACE ${TARVO_ZLIB_LIBRARY})
  # libsodium is static: its headers declare the API dllimport unless told otherwise, and its
  # random numbers come from advapi32.
  find_path(TARVO_SODIUM_INCLUDE sodium.h REQUIRED)
  find_library(TARVO_SODIUM_LIBRARY NAMES libsodium.a sodium REQUIRED)
  target_include_directories(tarvo_core_deps INTERFACE ${TARVO_SODIUM_INCLUDE})
  target_compile_definitions(tarvo_core_deps INTERFACE SODIUM_STATIC)
  target_link_libraries(tarvo_core_deps INTERFACE ${TARVO_SODIUM_LIBRARY} advapi32)
  find_path(TARVO_ZSTD_INCLUDE zstd.h REQUIRED)
  find_library(TARVO_ZSTD_LIBRARY NAMES libzstd.a zstd REQUIRED)
  target_include_directories(tarvo_core_deps INTERFACE ${TARVO_ZSTD_INCLUDE})
  target_link_libraries(tarvo_core_deps INTERFACE ${TARVO_ZSTD_LIBRARY})
  target_link_libraries(tarvo_platform_deps INTERFACE
                        wininet shlwapi shell32 ole32 user32 gdi32 kernel32)
else()
  find_package(Threads REQUIRED)
  find_package(CURL REQUIRED)
  find_package(ZLIB REQUIRED)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
  pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
  pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd)
  target_link_libraries(tarvo_platform_deps INTERFACE CURL::libcurl Threads::Threads)
  target_link_libraries(tarvo_core_deps INTERFACE PkgConfig::SODIUM PkgConfig::ZSTD ZLIB::ZLIB)
  target_link_libraries(tarvo_minizip_deps INTERFACE PkgConfig::MINIZIP ZLIB::ZLIB)
  # minizip's pkg-config names the include folder itself; the code includes <minizip/...>.
  target_include_directories(tarvo_minizip_deps INTERFACE ${MINIZIP_INCLUDEDIR})
endif()
