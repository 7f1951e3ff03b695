# The Debian package quorvane_<version>_amd64.deb, kept lintian-clean: stripped programs,
# dependencies computed by dpkg-shlibdeps, and the copyright file and changelog Debian policy
# asks for in /usr/share/doc/quorvane.
include(GNUInstallDirs)
find_program(GZIP gzip REQUIRED)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_NAME quorvane)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps sees only the libraries the programs link. The windows also need a font: they
# draw their text in Liberation Sans where MS Sans Serif is missing.
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-liberation)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/quorvane)
set(changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
    COMMAND ${GZIP} -9nc ${CMAKE_CURRENT_SOURCE_DIR}/changelog > ${changelog}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/changelog
    VERBATIM)
add_custom_target(quorvane-changelog ALL DEPENDS ${changelog})
install(FILES copyright ${changelog} DESTINATION ${doc_dir})

# Into the package only: a plain `cmake --install` has no use for it.
set(CPACK_INSTALLED_DIRECTORIES
    ${CMAKE_CURRENT_SOURCE_DIR}/lintian-overrides.d
    ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides)
