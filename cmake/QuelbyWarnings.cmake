# Warnings are errors on our own targets only; third-party headers are included as system headers.
function(quelby_target_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /WX /utf-8)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wshadow -Wnon-virtual-dtor)
    endif()
endfunction()
