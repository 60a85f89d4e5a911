# Installing like a desktop program (cmake --install) and the Debian packages (cpack): one
# build makes two, `stonecall` (the client, component "client") and `stonecall-lobbyd` (the
# server, component "server", which needs no Qt). Included at the end of the top-level
# CMakeLists.txt, once every target exists.

include(GNUInstallDirs)

set(STONECALL_PACKAGE_MAINTAINER "Stonecall maintainers <maintainers@stonecall.invalid>"
    CACHE STRING "Maintainer field of the Debian packages")

set(packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
set(man_dir ${PROJECT_BINARY_DIR}/man)

# Manual pages carry the version; they are installed gzip'd as Debian wants them.
function(stonecall_man_page name component)
    configure_file(${packaging_dir}/${name}.1.in ${man_dir}/${name}.1 @ONLY)
    add_custom_command(OUTPUT ${man_dir}/${name}.1.gz
        COMMAND sh -c "gzip -9n < \"$0\" > \"$1\"" ${man_dir}/${name}.1 ${man_dir}/${name}.1.gz
        DEPENDS ${man_dir}/${name}.1 VERBATIM)
    add_custom_target(${name}_man ALL DEPENDS ${man_dir}/${name}.1.gz)
    install(FILES ${man_dir}/${name}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT ${component})
endfunction()

# Each package's copyright file (machine-readable format) in its documentation folder; the
# server's also names the library compiled into it.
function(stonecall_copyright package component)
    set(STONECALL_COPYRIGHT_MORE "")
    foreach(extra ${ARGN})
        file(READ ${packaging_dir}/${extra} text)
        string(APPEND STONECALL_COPYRIGHT_MORE "${text}")
    endforeach()
    configure_file(${packaging_dir}/copyright.in ${PROJECT_BINARY_DIR}/doc/${package}/copyright
        @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/doc/${package}/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endfunction()

# Each package's changelog in Debian's format, gzip'd like the manual pages; the version is
# native (no Debian revision), so it is changelog.gz.
function(stonecall_changelog package component)
    set(STONECALL_CHANGELOG_PACKAGE ${package})
    set(file ${PROJECT_BINARY_DIR}/doc/${package}/changelog)
    configure_file(${packaging_dir}/changelog.in ${file} @ONLY)
    add_custom_command(OUTPUT ${file}.gz
        COMMAND sh -c "gzip -9n < \"$0\" > \"$1\"" ${file} ${file}.gz DEPENDS ${file} VERBATIM)
    add_custom_target(${package}_changelog ALL DEPENDS ${file}.gz)
    install(FILES ${file}.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
        COMPONENT ${component})
endfunction()

install(TARGETS stonecall RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT client)
install(FILES ${packaging_dir}/stonecall.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
    COMPONENT client)
install(FILES ${PROJECT_SOURCE_DIR}/src/qt/art/stonecall-icon.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME stonecall.svg
    COMPONENT client)
stonecall_man_page(stonecall client)
stonecall_copyright(stonecall client)
stonecall_changelog(stonecall client)
set(CPACK_COMPONENTS_ALL client)

if(TARGET stonecall-lobbyd)
    install(TARGETS stonecall-lobbyd stonecall-lobbyctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT server)
    stonecall_man_page(stonecall-lobbyd server)
    stonecall_man_page(stonecall-lobbyctl server)
    stonecall_copyright(stonecall-lobbyd server copyright-asio)
    stonecall_changelog(stonecall-lobbyd server)
    # The unit names the installed program, whose path is only known at install time
    # (cpack installs under /usr, a plain cmake --install under the configured prefix).
    # The plain unit, and the template for several lobbies on one machine.
    foreach(name stonecall-lobbyd.service stonecall-lobbyd@.service)
        set(unit ${PROJECT_BINARY_DIR}/packaging/${name})
        install(CODE "
            set(STONECALL_LOBBYD_PATH \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/stonecall-lobbyd\")
            configure_file(\"${packaging_dir}/${name}.in\" \"${unit}\" @ONLY)"
            COMPONENT server)
        install(FILES ${unit} DESTINATION lib/systemd/system COMPONENT server)
    endforeach()
    # A commented configuration with every setting.
    install(FILES ${packaging_dir}/lobbyd.conf.example
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/stonecall-lobbyd/examples RENAME lobbyd.conf
        COMPONENT server)
    list(APPEND CPACK_COMPONENTS_ALL server)
endif()

# The Debian packages: dependencies come from the libraries each program links
# (dpkg-shlibdeps), the file names are <package>_<version>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGE_NAME stonecall)
set(CPACK_PACKAGE_VENDOR "Stonecall")
set(CPACK_PACKAGE_CONTACT "${STONECALL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${STONECALL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Each package's description below starts with its own synopsis; a summary for the whole
# project would be put in front of both.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME stonecall)
# A network client: the games section is for packages that hold a game in /usr/games.
set(CPACK_DEBIAN_CLIENT_PACKAGE_SECTION net)
# libqt6svg6, which draws the artwork and the icon, comes from dpkg-shlibdeps: the client
# links Qt SVG itself, so naming it here as well would name it twice.
set(CPACK_COMPONENT_CLIENT_DESCRIPTION
    "${PROJECT_DESCRIPTION}\n"
    "Stonecall is a desktop client for a game's lobby. Log in to a lobby\n"
    "server, see who is waiting and who is playing, chat in the public\n"
    "channel, and host, leave or join huts: game rooms for 2 to 4 players,\n"
    "optionally with a password.")
string(JOIN "" CPACK_COMPONENT_CLIENT_DESCRIPTION ${CPACK_COMPONENT_CLIENT_DESCRIPTION})

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME stonecall-lobbyd)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
set(CPACK_COMPONENT_SERVER_DESCRIPTION
    "Lobby server for the Stonecall game client\n"
    "The server that Stonecall clients log in to. It keeps the list of users\n"
    "and their huts, relays the public chat and sends the message of the day.\n"
    "Its settings are read from /etc/stonecall/lobbyd.conf. The package holds\n"
    "a systemd unit, which it does not enable, and stonecall-lobbyctl, the\n"
    "operator's tool to kick, ban and mute users and to send notices. It\n"
    "needs no graphical libraries.")
string(JOIN "" CPACK_COMPONENT_SERVER_DESCRIPTION ${CPACK_COMPONENT_SERVER_DESCRIPTION})
include(CPack)
