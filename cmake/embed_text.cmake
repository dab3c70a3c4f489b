# Writes a C++ source that holds a text file's bytes as `const std::string_view NAME` in namespace
# quelby, so that page scripts stay .js files in the tree and still ship inside the program.
#
#   cmake -DINPUT=file.js -DOUTPUT=file.cpp -DNAME=SYMBOL -P embed_text.cmake
cmake_minimum_required(VERSION 3.25)
foreach(var INPUT OUTPUT NAME)
    if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
        message(FATAL_ERROR "embed_text.cmake: ${var} is not set")
    endif()
endforeach()

file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
# Bytes as "'\xHH'," would be unreadable for a compiler diagnostic anyway; numbers compile fastest.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
set(text "// Generated from ${INPUT}; do not edit.\n#include <string_view>\n\nnamespace quelby {\nnamespace {\nconstexpr char BYTES[] = {\n${bytes}0};\n}  // namespace\nextern const std::string_view ${NAME};\nconst std::string_view ${NAME}{BYTES, ${size}};\n}  // namespace quelby\n")
# Rewritten only when the text changes, so an unchanged script recompiles nothing.
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" old)
    if(old STREQUAL text)
        return()
    endif()
endif()
file(WRITE "${OUTPUT}" "${text}")
