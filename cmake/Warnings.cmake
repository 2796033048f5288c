# Warnings in our own code (errors with ZORVEL_WERROR); third-party headers come in as system headers.
function(zorvel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  if(ZORVEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# A library made of every .cpp file under the given folders (relative to the current source dir).
# New files join the build without touching CMake; folders that are still empty give an
# interface library, so later work can fill them.
function(zorvel_glob_library name)
  set(sources)
  foreach(dir ${ARGN})
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
    list(APPEND sources ${found})
  endforeach()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    zorvel_warnings(${name})
    set(${name}_SCOPE PUBLIC PARENT_SCOPE)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    set(${name}_SCOPE INTERFACE PARENT_SCOPE)
  endif()
endfunction()
