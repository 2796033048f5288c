# The bundle tree: build/bundle/bin/zorvel-desktop and build/bundle/share/zorvel/...
set(ZORVEL_BUNDLE_DIR ${CMAKE_BINARY_DIR}/bundle)
set(ZORVEL_BUNDLE_BIN ${ZORVEL_BUNDLE_DIR}/bin)
set(ZORVEL_BUNDLE_SHARE ${ZORVEL_BUNDLE_DIR}/share/zorvel)
file(MAKE_DIRECTORY ${ZORVEL_BUNDLE_BIN} ${ZORVEL_BUNDLE_SHARE})

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
