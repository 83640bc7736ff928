# tarvo_add_launcher(TARGET DIRECTORY PUBLIC_KEY [DOWNLOAD_RATE] [NO_DISK_FLUSH]): a launcher
# executable, Tarvo.exe (Win32) or tarvo (POSIX) in DIRECTORY, whose updates must be signed with
# PUBLIC_KEY (base64; empty: not signed) and whose downloads keep under DOWNLOAD_RATE KiB/s (0,
# the default: no limit) unless an installation's Sys\Config.ini sets another. All are built into
# the application object, generated for each launcher. NO_DISK_FLUSH: installed files are not
# flushed to the disk before their versions are recorded; only for measuring what the flushing
# costs, never for a launcher that ships.
function(tarvo_add_launcher target directory public_key)
  set(TARVO_LAUNCHER_PUBLIC_KEY "${public_key}")
  set(TARVO_LAUNCHER_DOWNLOAD_RATE 0)
  set(TARVO_LAUNCHER_DISK_FLUSH "tarvo::PlatformDiskFlush()")
  foreach(option IN LISTS ARGN)
    if(option STREQUAL "NO_DISK_FLUSH")
      set(TARVO_LAUNCHER_DISK_FLUSH "tarvo::NoDiskFlush()")
    else()
      set(TARVO_LAUNCHER_DOWNLOAD_RATE "${option}")
    endif()
  endforeach()
  set(instance ${CMAKE_BINARY_DIR}/generated/${target}_app_instance.cpp)
  configure_file(${PROJECT_SOURCE_DIR}/src/app/app_instance.cpp.in ${instance} @ONLY)
  set(sources ${instance} ${PROJECT_SOURCE_DIR}/src/platform/${TARVO_OS}/entry_${TARVO_OS}.cpp)
  if(WIN32)
    add_executable(${target} WIN32 ${sources} ${PROJECT_SOURCE_DIR}/src/res/Tarvo.rc)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME Tarvo)
    target_link_options(${target} PRIVATE -municode)
  else()
    add_executable(${target} ${sources})
    set_target_properties(${target} PROPERTIES OUTPUT_NAME tarvo)
  endif()
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${directory})
  target_link_libraries(${target} PRIVATE tarvo_core)
  # The launcher of a release build carries no symbol table and no debug data.
  target_link_options(${target} PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
endfunction()
