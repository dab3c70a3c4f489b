# Obtains the pinned DevTools front-end build and unpacks its front_end/ directory.
#
#   cmake -DPACKAGE=chii@1.15.5 -DINTEGRITY=sha512-... -DTARBALL_SIZE=N -DWORK_DIR=dir
#         [-DTARBALL=/path/to/chii-1.15.5.tgz] -P fetch_frontend.cmake
#
# The tarball comes from TARBALL when given, otherwise from WORK_DIR's cache, otherwise from
# `npm pack` (data only: nothing is installed and no package script runs). Whatever its origin it
# is checked against the pinned size and integrity before a single file is unpacked. The result is
# WORK_DIR/front_end; a stamp records which tarball it came from, so a rebuild needs no network.
cmake_minimum_required(VERSION 3.25)

foreach(var PACKAGE INTEGRITY TARBALL_SIZE WORK_DIR)
    if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
        message(FATAL_ERROR "fetch_frontend.cmake: ${var} is not set")
    endif()
endforeach()

# npm states integrity as Subresource Integrity ("sha512-" + base64); CMake hashes in hex.
function(base64_to_hex base64 out_var)
    set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
    set(hex_digits "0123456789abcdef")
    string(REGEX REPLACE "=+$" "" base64 "${base64}")
    string(LENGTH "${base64}" length)
    set(bits 0)
    set(bit_count 0)
    set(hex "")
    math(EXPR last "${length} - 1")
    foreach(i RANGE 0 ${last})
        string(SUBSTRING "${base64}" ${i} 1 char)
        string(FIND "${alphabet}" "${char}" value)
        if(value LESS 0)
            message(FATAL_ERROR "fetch_frontend.cmake: '${char}' is not a base64 digit")
        endif()
        math(EXPR bits "(${bits} << 6) | ${value}")
        math(EXPR bit_count "${bit_count} + 6")
        if(bit_count GREATER_EQUAL 8)
            math(EXPR bit_count "${bit_count} - 8")
            math(EXPR byte "(${bits} >> ${bit_count}) & 255")
            math(EXPR bits "${bits} & ((1 << ${bit_count}) - 1)")
            math(EXPR high "${byte} >> 4")
            math(EXPR low "${byte} & 15")
            string(SUBSTRING "${hex_digits}" ${high} 1 high_digit)
            string(SUBSTRING "${hex_digits}" ${low} 1 low_digit)
            string(APPEND hex "${high_digit}${low_digit}")
        endif()
    endforeach()
    set(${out_var} "${hex}" PARENT_SCOPE)
endfunction()

if(NOT INTEGRITY MATCHES "^sha512-(.+)$")
    message(FATAL_ERROR "fetch_frontend.cmake: only sha512 integrity is supported, got ${INTEGRITY}")
endif()
base64_to_hex("${CMAKE_MATCH_1}" expected_sha512)

# Sets ${out_var} to an empty string when `file` is the pinned tarball, else to the reason why not.
function(check_tarball file out_var)
    if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
        set(${out_var} "${file} does not exist" PARENT_SCOPE)
        return()
    endif()
    file(SIZE "${file}" size)
    if(NOT size EQUAL TARBALL_SIZE)
        set(${out_var} "${file} has ${size} bytes, expected ${TARBALL_SIZE}" PARENT_SCOPE)
        return()
    endif()
    file(SHA512 "${file}" actual)
    if(NOT actual STREQUAL expected_sha512)
        set(${out_var} "${file} does not match ${INTEGRITY}" PARENT_SCOPE)
        return()
    endif()
    set(${out_var} "" PARENT_SCOPE)
endfunction()

string(REGEX REPLACE "@" "-" tarball_name "${PACKAGE}")
set(cached_tarball "${WORK_DIR}/${tarball_name}.tgz")
file(MAKE_DIRECTORY "${WORK_DIR}")

if(DEFINED TARBALL AND NOT TARBALL STREQUAL "")
    check_tarball("${TARBALL}" problem)
    if(problem)
        message(FATAL_ERROR "QUELBY_FRONTEND_TARBALL is not the pinned ${PACKAGE}: ${problem}")
    endif()
    set(tarball "${TARBALL}")
else()
    check_tarball("${cached_tarball}" problem)
    if(problem)
        find_program(NPM_EXECUTABLE NAMES npm npm.cmd)
        if(NOT NPM_EXECUTABLE)
            message(FATAL_ERROR "npm is needed to fetch ${PACKAGE}; or set QUELBY_FRONTEND_TARBALL "
                                "or QUELBY_FRONTEND_DIR for an offline build")
        endif()
        set(download_dir "${WORK_DIR}/download")
        file(REMOVE_RECURSE "${download_dir}")
        file(MAKE_DIRECTORY "${download_dir}")
        message(STATUS "Fetching ${PACKAGE} with npm pack")
        execute_process(
            COMMAND "${NPM_EXECUTABLE}" pack "${PACKAGE}" --ignore-scripts --silent
                    --pack-destination "${download_dir}"
            WORKING_DIRECTORY "${download_dir}"
            RESULT_VARIABLE npm_result
            OUTPUT_VARIABLE npm_output
            ERROR_VARIABLE npm_output)
        if(NOT npm_result EQUAL 0)
            message(FATAL_ERROR "npm pack ${PACKAGE} failed (${npm_result}):\n${npm_output}")
        endif()
        check_tarball("${download_dir}/${tarball_name}.tgz" problem)
        if(problem)
            message(FATAL_ERROR "npm pack ${PACKAGE} gave an unexpected tarball: ${problem}")
        endif()
        file(RENAME "${download_dir}/${tarball_name}.tgz" "${cached_tarball}")
        file(REMOVE_RECURSE "${download_dir}")
    endif()
    set(tarball "${cached_tarball}")
endif()

# Unpack only when the directory is missing or came from another tarball. The stamp is written
# last, so an interrupted unpack is redone rather than trusted.
set(front_end "${WORK_DIR}/front_end")
set(stamp "${WORK_DIR}/front_end.stamp")
set(stamp_text "${PACKAGE} ${INTEGRITY}")
if(EXISTS "${stamp}" AND IS_DIRECTORY "${front_end}")
    file(READ "${stamp}" previous)
    if(previous STREQUAL stamp_text)
        return()
    endif()
endif()

file(REMOVE "${stamp}")
set(staging "${WORK_DIR}/unpack")
file(REMOVE_RECURSE "${staging}" "${front_end}")
file(ARCHIVE_EXTRACT INPUT "${tarball}" DESTINATION "${staging}"
     PATTERNS "package/public/front_end/*")
if(NOT IS_DIRECTORY "${staging}/package/public/front_end")
    message(FATAL_ERROR "${tarball} holds no package/public/front_end/ directory")
endif()
file(RENAME "${staging}/package/public/front_end" "${front_end}")
file(REMOVE_RECURSE "${staging}")
file(WRITE "${stamp}" "${stamp_text}")
