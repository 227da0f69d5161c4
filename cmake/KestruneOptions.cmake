# Compiler settings every Kestrune target links through `kestrune_options`.
add_library(kestrune_options INTERFACE)
target_include_directories(kestrune_options INTERFACE "${PROJECT_SOURCE_DIR}")
target_compile_options(kestrune_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Wformat=2
  $<$<BOOL:${KESTRUNE_WERROR}>:-Werror>)

if(KESTRUNE_SANITIZE)
  target_compile_options(kestrune_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(kestrune_options INTERFACE -fsanitize=address,undefined)
endif()

if(WIN32)
  # Unicode Win32 calls at the boundary; keep <windows.h> small and free of
  # the min/max macros.
  target_compile_definitions(kestrune_options INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
endif()

# kestrune_library(name SOURCES ... DEPS ...): one static library per module.
function(kestrune_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC kestrune_options ${ARG_DEPS})
endfunction()
