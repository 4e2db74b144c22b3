find_package(Threads REQUIRED)

# Warnings as errors on our own code only.
function(vk5_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
                                             -Werror)
  endif()
endfunction()

# Coverage feedback for the fuzzers reaches into the core they exercise.
if(VK5_BUILD_FUZZERS)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(VK5_SANITIZE)
  string(REPLACE ";" "," _vk5_san "${VK5_SANITIZE}")
  add_compile_options(-fsanitize=${_vk5_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_vk5_san})
endif()

if(MSVC)
  # Sources are UTF-8 whatever the machine's code page; MSVC deprecates the
  # portable C string functions in favour of its _s forms, which we do not use.
  add_compile_options(/utf-8)
  add_compile_definitions(_CRT_SECURE_NO_WARNINGS)
endif()

# The module must load into a host with nothing beside it.
if(MINGW)
  add_link_options(-static-libgcc -static-libstdc++ -static)
endif()

# The host's name for this platform's binaries folder in a driver folder.
if(WIN32)
  set(VK5_PLATFORM_FOLDER win64)
else()
  set(VK5_PLATFORM_FOLDER linux64)
endif()
