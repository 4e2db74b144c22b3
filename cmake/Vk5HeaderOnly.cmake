# Header-only libraries installed for the build machine (/usr/include) are
# valid for any target, but a cross build cannot add /usr/include itself: it
# would put the build machine's C library ahead of the target's. So when the
# package is not found for the target, its one header folder is linked into a
# private include directory and offered under the package's usual target name.
set(VK5_HEADER_ONLY_ROOT /usr/include CACHE PATH "Where header-only packages are taken from when cross-compiling")

function(vk5_header_only_package package target folder)
  find_package(${package} QUIET)
  if(TARGET ${target})
    return()
  endif()
  if(NOT CMAKE_CROSSCOMPILING OR NOT EXISTS "${VK5_HEADER_ONLY_ROOT}/${folder}")
    find_package(${package} REQUIRED)
    return()
  endif()
  set(staged ${CMAKE_BINARY_DIR}/vk5-header-only)
  file(MAKE_DIRECTORY ${staged})
  if(NOT EXISTS ${staged}/${folder})
    file(CREATE_LINK ${VK5_HEADER_ONLY_ROOT}/${folder} ${staged}/${folder} SYMBOLIC)
  endif()
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  target_include_directories(${target} SYSTEM INTERFACE ${staged})
  message(STATUS "${package}: headers from ${VK5_HEADER_ONLY_ROOT}/${folder}")
endfunction()
