# Windows packages: a zip to unpack anywhere and an NSIS installer (Debian's `nsis` builds it),
# both named Quorvane-<version>-win64 and both left in the build directory.
#
# Everything lies in one directory: the two executables, Help.htm, a sample quorvane.ini (every
# line commented out, so the compiled defaults stay in force), the README and the licence.
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/windows/quorvane.ini DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . RENAME README.txt)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/windows/licence.txt DESTINATION .)

set(CPACK_GENERATOR ZIP NSIS)
# The executables' symbol tables are half their size and of no use to a user.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME "Quorvane-${PROJECT_VERSION}-win64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Quorvane")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/windows/licence.txt)

# Per machine under Program Files: changing the machine hive needs administrator rights, so the
# installer asks for them (CPack's NSIS script requests the admin execution level).
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
# A 64-bit installer for a 64-bit program: its uninstall entry lands in the registry's 64-bit
# view, and it runs where only 64-bit programs do (a Wine without its 32-bit half, say).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_PACKAGE_NAME "Quorvane")
set(CPACK_NSIS_DISPLAY_NAME "Quorvane")
set(CPACK_NSIS_MUI_ICON ${PROJECT_BINARY_DIR}/assets/quorvane.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_BINARY_DIR}/assets/quorvane.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME "quorvane.exe")
set(CPACK_NSIS_URL_INFO_ABOUT "http://www.haldrix.example")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# Start-menu shortcut to the program, which lies in the installation directory itself.
set(CPACK_PACKAGE_EXECUTABLES "quorvane" "Quorvane")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY ".")
set(CPACK_NSIS_MUI_FINISHPAGE_RUN "quorvane.exe")
# The program writes quorvane.exe.MANIFEST beside itself at its first start; the uninstaller
# removes it too, or the program directory would stay behind.
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "Delete '$INSTDIR\\\\quorvane.exe.MANIFEST'")
