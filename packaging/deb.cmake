# The Debian packages, split as Debian splits a program with a window and a command line:
# quorvane_<version>_amd64.deb (the window, component `window`) and
# quorvane-cli_<version>_amd64.deb (the command line, component `cli`, which needs no Qt). Both
# stay lintian-clean: stripped programs, dependencies computed by dpkg-shlibdeps, and the
# copyright file and changelog Debian policy asks for in each package's /usr/share/doc.
include(GNUInstallDirs)
find_program(GZIP gzip REQUIRED)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL window cli)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME quorvane)
set(CPACK_DEBIAN_CLI_PACKAGE_NAME quorvane-cli)
# dpkg-shlibdeps sees only the libraries the programs link. The windows also need a font: they
# draw their text in Liberation Sans where MS Sans Serif is missing. Whoever installs the window
# mostly wants the command line as well.
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS fonts-liberation)
set(CPACK_DEBIAN_WINDOW_PACKAGE_RECOMMENDS "quorvane-cli (= ${PROJECT_VERSION})")
# Below the one synopsis, the README's introduction and what this package holds.
quorvane_wrap("This package holds the window, quorvane. The command line, quorvane-cli, is a \
package of its own." 72 holds)
set(CPACK_COMPONENT_WINDOW_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}\n\n${holds}")
quorvane_wrap("This package holds the command line, quorvane-cli, which needs no Qt. The \
window, quorvane, is a package of its own." 72 holds)
set(CPACK_COMPONENT_CLI_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}\n\n${holds}")

# Each package's copyright file and changelog, in its own folder of /usr/share/doc.
set(changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
    COMMAND ${GZIP} -9nc ${CMAKE_CURRENT_SOURCE_DIR}/changelog > ${changelog}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/changelog
    VERBATIM)
add_custom_target(quorvane-changelog ALL DEPENDS ${changelog})
install(FILES copyright ${changelog} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quorvane
        COMPONENT window)
install(FILES copyright ${changelog} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quorvane-cli
        COMPONENT cli)

# Into the package only: a plain `cmake --install` has no use for it.
install(FILES lintian-overrides.d/quorvane
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        COMPONENT window EXCLUDE_FROM_ALL)
