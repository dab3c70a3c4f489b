# Install rules and packages. `cmake --install` lays the program out as a Unix tool (bin/, the
# documents under share/doc/quelby-inspector/, the manual page); CPack turns the same install into
# a .deb on Linux and, in the Windows cross build, a .zip of the exe with its notices.
#
# The version every artefact carries is project(VERSION): it is compiled into --version, and the
# manual page and the package take it from there.

set(QUELBY_PACKAGE_NAME quelby-inspector)
set(QUELBY_PACKAGE_MAINTAINER "quelby_inspector maintainers <maintainers@quelby-inspector.invalid>"
    CACHE STRING "Maintainer field of the packages")
# The date of the changelog entry for this version (RFC 5322, as Debian changelogs write it).
set(QUELBY_RELEASE_DATE "Tue, 08 Dec 2026 09:00:00 +0000")

if(WIN32)
    # A zip a user unpacks anywhere: the exe and the texts that must travel with it, side by side.
    install(TARGETS quelby_inspector RUNTIME DESTINATION .)
    install(FILES README.md THIRD_PARTY_NOTICES.md DESTINATION .)
else()
    set(doc_dir share/doc/${QUELBY_PACKAGE_NAME})
    install(TARGETS quelby_inspector RUNTIME DESTINATION bin)
    install(FILES README.md THIRD_PARTY_NOTICES.md packaging/copyright DESTINATION ${doc_dir})

    # The manual page is --help and --version turned into roff by help2man, so it cannot drift
    # from the program; compressed the way Debian ships manual pages (gzip -9, no name or time).
    find_program(QUELBY_HELP2MAN help2man REQUIRED)
    find_program(QUELBY_GZIP gzip REQUIRED)
    set(man_page "${PROJECT_BINARY_DIR}/man/quelby_inspector.1")
    add_custom_command(
        OUTPUT "${man_page}.gz"
        COMMAND "${QUELBY_HELP2MAN}" --no-info --section=1
                "--name=open a DevTools window on a running V8 inspector"
                "--output=${man_page}" "$<TARGET_FILE:quelby_inspector>"
        COMMAND "${QUELBY_GZIP}" -9nf "${man_page}"
        DEPENDS quelby_inspector
        COMMENT "Generating the manual page with help2man"
        VERBATIM)

    # Debian wants a changelog beside the copyright file; its one entry follows the version.
    configure_file(packaging/changelog.in "${PROJECT_BINARY_DIR}/packaging/changelog" @ONLY)
    add_custom_command(
        OUTPUT "${PROJECT_BINARY_DIR}/packaging/changelog.gz"
        COMMAND "${QUELBY_GZIP}" -9nkf "${PROJECT_BINARY_DIR}/packaging/changelog"
        DEPENDS "${PROJECT_BINARY_DIR}/packaging/changelog"
        VERBATIM)
    add_custom_target(quelby_install_documents ALL
                      DEPENDS "${man_page}.gz" "${PROJECT_BINARY_DIR}/packaging/changelog.gz")
    install(FILES "${man_page}.gz" DESTINATION share/man/man1)
    install(FILES "${PROJECT_BINARY_DIR}/packaging/changelog.gz" DESTINATION ${doc_dir})
endif()

set(CPACK_PACKAGE_NAME ${QUELBY_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "quelby_inspector maintainers")
set(CPACK_PACKAGE_CONTACT "${QUELBY_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "DevTools window for a running V8 inspector")
# Debian shows the lines as they are: at most 79 characters each.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Given the address of a V8 inspector (what node --inspect listens on),\n"
    "quelby_inspector reads its target list and opens a window that runs the\n"
    "DevTools front end, connected to the first target's debugger WebSocket.\n"
    "The front end is compiled into the program, so it works offline. With\n"
    "--print-url it only prints the addresses, for another browser.")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME "${QUELBY_PACKAGE_NAME}-${PROJECT_VERSION}-win64")
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION devel)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    # Depends: what the binary links, as dpkg-shlibdeps reads it. WebKitGTK and libcurl are opened
    # at run time (--print-url and --help work without them; without libcurl, only source maps on
    # web servers fail), so they are only recommended.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libwebkit2gtk-4.1-0, libcurl4")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)
