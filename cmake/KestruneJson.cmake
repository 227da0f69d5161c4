# kestrune_json: the nlohmann-json headers (Debian's nlohmann-json3-dev,
# header-only) for the modules that read or write JSON.
#
# The cross builds must never search the host's /usr/include as a whole: its C
# library headers would stand in front of MinGW's. So the build tree gets an
# include directory of its own that holds the nlohmann folder and nothing else.
set(KESTRUNE_NLOHMANN_JSON_DIR "/usr/include/nlohmann"
    CACHE PATH "The folder holding nlohmann-json's json.hpp")
if(NOT EXISTS "${KESTRUNE_NLOHMANN_JSON_DIR}/json.hpp")
  message(FATAL_ERROR "nlohmann-json not found in ${KESTRUNE_NLOHMANN_JSON_DIR} "
                      "(Debian: nlohmann-json3-dev; or set KESTRUNE_NLOHMANN_JSON_DIR)")
endif()
set(kestrune_json_include "${CMAKE_BINARY_DIR}/json-include")
file(MAKE_DIRECTORY "${kestrune_json_include}")
file(CREATE_LINK "${KESTRUNE_NLOHMANN_JSON_DIR}" "${kestrune_json_include}/nlohmann"
     COPY_ON_ERROR SYMBOLIC)
add_library(kestrune_json INTERFACE)
# SYSTEM: the library's own code is not held to our warning flags.
target_include_directories(kestrune_json SYSTEM INTERFACE "${kestrune_json_include}")
