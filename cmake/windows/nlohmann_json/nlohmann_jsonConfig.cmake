# nlohmann/json for the Windows cross build. The library is header-only, but Debian's package
# config points at /usr/include, which must not reach the MinGW compiler (it would put glibc's
# headers before MinGW's). So the nlohmann headers alone are staged into the build tree and the
# usual imported target points there.
set(_quelby_json_source "/usr/include/nlohmann")
if(NOT EXISTS "${_quelby_json_source}/json.hpp")
    set(nlohmann_json_FOUND FALSE)
    set(nlohmann_json_NOT_FOUND_MESSAGE "nlohmann-json3-dev is not installed (${_quelby_json_source})")
    return()
endif()
set(_quelby_json_stage "${CMAKE_BINARY_DIR}/host_headers")
file(COPY "${_quelby_json_source}" DESTINATION "${_quelby_json_stage}")
if(NOT TARGET nlohmann_json::nlohmann_json)
    add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
    set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES "${_quelby_json_stage}")
endif()
set(nlohmann_json_FOUND TRUE)
