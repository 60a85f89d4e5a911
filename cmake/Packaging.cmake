# Installing like a desktop program (cmake --install) and the Debian package (cpack).
# Included at the end of the top-level CMakeLists.txt, once every target exists.

include(GNUInstallDirs)

set(STONECALL_PACKAGE_MAINTAINER "Stonecall maintainers <maintainers@stonecall.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
set(man_dir ${PROJECT_BINARY_DIR}/man)

# Manual pages carry the version; they are installed gzip'd as Debian wants them.
function(stonecall_man_page name)
    configure_file(${packaging_dir}/${name}.1.in ${man_dir}/${name}.1 @ONLY)
    add_custom_command(OUTPUT ${man_dir}/${name}.1.gz
        COMMAND sh -c "gzip -9n < \"$0\" > \"$1\"" ${man_dir}/${name}.1 ${man_dir}/${name}.1.gz
        DEPENDS ${man_dir}/${name}.1 VERBATIM)
    add_custom_target(${name}_man ALL DEPENDS ${man_dir}/${name}.1.gz)
    install(FILES ${man_dir}/${name}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

install(TARGETS stonecall RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${packaging_dir}/stonecall.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/src/qt/art/stonecall-icon.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME stonecall.svg)
stonecall_man_page(stonecall)

if(TARGET stonecall-lobbyd)
    install(TARGETS stonecall-lobbyd RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    stonecall_man_page(stonecall-lobbyd)
    # The unit names the installed program, whose path is only known at install time
    # (cpack installs under /usr, a plain cmake --install under the configured prefix).
    set(unit ${PROJECT_BINARY_DIR}/packaging/stonecall-lobbyd.service)
    install(CODE "
        set(STONECALL_LOBBYD_PATH \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/stonecall-lobbyd\")
        configure_file(\"${packaging_dir}/stonecall-lobbyd.service.in\" \"${unit}\" @ONLY)")
    install(FILES ${unit} DESTINATION lib/systemd/system)
endif()

# The Debian package: dependencies come from the libraries the programs link
# (dpkg-shlibdeps), the file name is stonecall_<version>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME stonecall)
set(CPACK_PACKAGE_VENDOR "Stonecall")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "Log in to a lobby server, see who is waiting and who is playing, chat in the public\n"
    "channel, and host, leave or join huts: game rooms for 2 to 4 players, optionally\n"
    "with a password.\n"
    "The package also holds stonecall-lobbyd, the lobby server, with a systemd unit that\n"
    "is not enabled.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
if(NOT TARGET stonecall-lobbyd)
    string(REGEX REPLACE "\nThe package also.*" "" CPACK_PACKAGE_DESCRIPTION
        "${CPACK_PACKAGE_DESCRIPTION}")
endif()
set(CPACK_PACKAGE_CONTACT "${STONECALL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${STONECALL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Added to what dpkg-shlibdeps finds: Qt draws the SVG artwork and icon through plugins,
# which no program links.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6 (>= 6.4)")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)
