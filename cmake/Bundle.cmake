# The bundle tree: the install tree laid out in the build, so the application runs from the build as
# it does once installed. Programs go to bin, the resources to share/zorvel and helper programs to
# libexec/zorvel, or wherever GNUInstallDirs's variables put them; the application finds the other
# two folders from its own path, by their places relative to bin, which the same variables fix.
include(GNUInstallDirs)
file(RELATIVE_PATH ZORVEL_RESOURCES_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/zorvel)
file(RELATIVE_PATH ZORVEL_HELPERS_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBEXECDIR}/zorvel)
set(ZORVEL_BUNDLE_DIR ${CMAKE_BINARY_DIR}/bundle)
set(ZORVEL_BUNDLE_BIN ${ZORVEL_BUNDLE_DIR}/bin)
cmake_path(ABSOLUTE_PATH ZORVEL_RESOURCES_FROM_BIN BASE_DIRECTORY ${ZORVEL_BUNDLE_BIN} NORMALIZE
           OUTPUT_VARIABLE ZORVEL_BUNDLE_SHARE)
cmake_path(ABSOLUTE_PATH ZORVEL_HELPERS_FROM_BIN BASE_DIRECTORY ${ZORVEL_BUNDLE_BIN} NORMALIZE
           OUTPUT_VARIABLE ZORVEL_BUNDLE_HELPERS)
foreach(folder ${ZORVEL_BUNDLE_SHARE} ${ZORVEL_BUNDLE_HELPERS})
  cmake_path(IS_PREFIX ZORVEL_BUNDLE_DIR ${folder} NORMALIZE inside)
  if(NOT inside)
    message(FATAL_ERROR "The install folders put ${folder} outside the bundle tree: keep bin, the data "
                        "folder and libexec under one prefix")
  endif()
endforeach()
file(MAKE_DIRECTORY ${ZORVEL_BUNDLE_BIN} ${ZORVEL_BUNDLE_SHARE} ${ZORVEL_BUNDLE_HELPERS})

# Copies a directory of resources into the bundle whenever one of its files changes.
function(zorvel_bundle_directory name source destination)
  file(GLOB_RECURSE files CONFIGURE_DEPENDS ${source}/*)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${name}.stamp)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${source} ${ZORVEL_BUNDLE_SHARE}/${destination}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${files} VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${stamp})
endfunction()
