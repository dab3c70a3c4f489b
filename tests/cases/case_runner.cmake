# The case runner (runner/): one program for the table cases and the program cases, built by the
# native test tree (tests/cases/CMakeLists.txt) and by the Windows checks (tests/wine), so that
# the same case files judge both builds.
set(QUELBY_CASES_DIR ${CMAKE_CURRENT_LIST_DIR})

function(quelby_add_case_runner)
    set(dir ${QUELBY_CASES_DIR}/runner)
    add_executable(quelby_case_runner
        ${dir}/main.cpp ${dir}/case_file.cpp ${dir}/case_text.cpp ${dir}/case_report.cpp
        ${dir}/unit_cases.cpp ${dir}/program_cases.cpp ${dir}/fake_peer.cpp
        ${dir}/peer_socket_${QUELBY_PLATFORM}.cpp ${dir}/child_run_${QUELBY_PLATFORM}.cpp)
    target_link_libraries(quelby_case_runner PRIVATE quelby_discovery quelby_core)
    # <version> in a case: what --version must report.
    target_compile_definitions(quelby_case_runner PRIVATE
        QUELBY_CASES_VERSION="${PROJECT_VERSION}")
    if(QUELBY_PLATFORM STREQUAL "win32")
        target_link_libraries(quelby_case_runner PRIVATE ws2_32)
        target_compile_definitions(quelby_case_runner PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN
                                   NOMINMAX)
    else()
        find_package(Threads REQUIRED)
        target_link_libraries(quelby_case_runner PRIVATE Threads::Threads)
    endif()
    quelby_target_warnings(quelby_case_runner)
endfunction()

# The table cases of the library's functions (the program cases need the program: see the callers).
file(GLOB QUELBY_TABLE_CASE_FILES CONFIGURE_DEPENDS ${QUELBY_CASES_DIR}/discovery/*.md)
file(GLOB QUELBY_PROGRAM_CASE_FILES CONFIGURE_DEPENDS ${QUELBY_CASES_DIR}/program/*.md)
