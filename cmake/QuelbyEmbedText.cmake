# Page scripts stay .js files in the tree and ship inside the program: quelby_embed_text generates
# a C++ source holding the file's text as `const std::string_view NAME` in namespace quelby and
# appends that source to the list variable OUT_SOURCES.
set(QUELBY_EMBED_TEXT_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/embed_text.cmake")

function(quelby_embed_text input name out_sources)
    get_filename_component(input_path "${input}" ABSOLUTE)
    get_filename_component(stem "${input}" NAME_WE)
    set(output "${CMAKE_CURRENT_BINARY_DIR}/generated/${stem}_text.cpp")
    add_custom_command(
        OUTPUT "${output}"
        COMMAND ${CMAKE_COMMAND} -DINPUT=${input_path} -DOUTPUT=${output} -DNAME=${name}
                -P ${QUELBY_EMBED_TEXT_SCRIPT}
        DEPENDS "${input_path}" "${QUELBY_EMBED_TEXT_SCRIPT}"
        COMMENT "Embedding ${stem}.js"
        VERBATIM)
    set(${out_sources} ${${out_sources}} "${output}" PARENT_SCOPE)
endfunction()
