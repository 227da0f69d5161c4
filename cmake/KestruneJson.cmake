# kestrune_json: nlohmann-json (Debian's nlohmann-json3-dev, header-only) for
# every build. Natively the package's CMake configuration is used. The cross
# compilers must not see /usr/include (it holds the build machine's C library
# headers), so cross builds get an include directory in the build tree that
# holds a link to /usr/include/nlohmann and nothing else.
add_library(kestrune_json INTERFACE)
if(CMAKE_CROSSCOMPILING)
  set(kestrune_json_source /usr/include/nlohmann)
  if(NOT EXISTS "${kestrune_json_source}/json.hpp")
    message(FATAL_ERROR "nlohmann-json not found in ${kestrune_json_source} "
                        "(Debian package nlohmann-json3-dev)")
  endif()
  set(kestrune_json_include "${CMAKE_BINARY_DIR}/json-include")
  file(MAKE_DIRECTORY "${kestrune_json_include}")
  file(CREATE_LINK "${kestrune_json_source}" "${kestrune_json_include}/nlohmann" SYMBOLIC)
  target_include_directories(kestrune_json SYSTEM INTERFACE "${kestrune_json_include}")
else()
  find_package(nlohmann_json 3.10 REQUIRED)
  target_link_libraries(kestrune_json INTERFACE nlohmann_json::nlohmann_json)
endif()
