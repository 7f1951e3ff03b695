# Windows packages: a zip to unpack anywhere and an NSIS installer (Debian's `nsis` builds it),
# both named Quorvane-<version>-win64 and both left in the build directory.
#
# Everything lies in one folder: the two executables, the program's manifest, Qt's DLLs with the
# two plugins the program loads (in platforms\ and styles\, where Qt looks beside the program),
# qt.conf, Help.htm, a sample quorvane.ini (every line commented out, so the compiled defaults
# stay in force), the README, the licence and the third-party notices.

# Qt's DLLs, where a user may replace them (THIRD-PARTY-NOTICES.txt says how).
set(qt_prefix ${QUORVANE_QT_WINDOWS_PREFIX})
install(FILES ${qt_prefix}/bin/Qt6Core.dll ${qt_prefix}/bin/Qt6Gui.dll
              ${qt_prefix}/bin/Qt6Widgets.dll ${qt_prefix}/bin/Qt6Network.dll
              ${CMAKE_CURRENT_SOURCE_DIR}/windows/qt.conf
        DESTINATION .)
install(FILES ${qt_prefix}/plugins/platforms/qwindows.dll DESTINATION platforms)
install(FILES ${qt_prefix}/plugins/styles/qwindowsvistastyle.dll DESTINATION styles)

# The notices name the Debian source Qt was built from (the host's qt6-base-dev: the Qt build
# script fetches exactly that version) and the options it was built with (its stamp file).
execute_process(COMMAND dpkg-query -W -f=\${Version} qt6-base-dev
                OUTPUT_VARIABLE QUORVANE_QT_DEBIAN_VERSION RESULT_VARIABLE status)
set(qt_stamp ${qt_prefix}/quorvane-qt-built)
if(NOT status EQUAL 0 OR NOT EXISTS ${qt_stamp})
    message(FATAL_ERROR "The notices need qt6-base-dev's version and ${qt_stamp}")
endif()
file(STRINGS ${qt_stamp} qt_options REGEX "^-D")
list(JOIN qt_options "\n    " QUORVANE_QT_OPTIONS)
set(QUORVANE_QT_OPTIONS "    ${QUORVANE_QT_OPTIONS}")
# The changes made to Qt's source, in full: the stamp names the patches the build applied.
file(STRINGS ${qt_stamp} qt_patches REGEX "^patched with ")
set(QUORVANE_QT_PATCHES "")
foreach(line IN LISTS qt_patches)
    string(REGEX REPLACE "^patched with " "" patch_name "${line}")
    file(READ ${PROJECT_SOURCE_DIR}/scripts/qt-windows-patches/${patch_name} patch_text)
    string(APPEND QUORVANE_QT_PATCHES "${patch_name}:\n\n${patch_text}\n")
endforeach()
if(QUORVANE_QT_PATCHES STREQUAL "")
    message(FATAL_ERROR "${qt_stamp} names no patch: run scripts/qt-windows.sh again")
endif()
file(READ /usr/share/common-licenses/LGPL-3 QUORVANE_LGPL3)
file(READ /usr/share/common-licenses/GPL-3 QUORVANE_GPL3)
set(notices ${CMAKE_CURRENT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt)
configure_file(windows/THIRD-PARTY-NOTICES.txt.in ${notices} @ONLY NEWLINE_STYLE WIN32)
# The installer's licence page shows Quorvane's licence and then the notices.
file(READ windows/licence.txt QUORVANE_LICENCE)
file(READ ${notices} QUORVANE_NOTICES)
string(REPLACE "\r\n" "\n" QUORVANE_NOTICES "${QUORVANE_NOTICES}")
set(licence_page ${CMAKE_CURRENT_BINARY_DIR}/licence-page.txt)
file(WRITE ${licence_page}.in "@QUORVANE_LICENCE@\n\n@QUORVANE_NOTICES@")
configure_file(${licence_page}.in ${licence_page} @ONLY NEWLINE_STYLE WIN32)

install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/windows/quorvane.ini ${notices} DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . RENAME README.txt)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/windows/licence.txt DESTINATION .)

set(CPACK_GENERATOR ZIP NSIS)
# One package with everything: the install components (window, cli) split only the Debian ones.
set(CPACK_MONOLITHIC_INSTALL ON)
# The executables' symbol tables are half their size and of no use to a user.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME "Quorvane-${PROJECT_VERSION}-win64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Quorvane")
set(CPACK_RESOURCE_FILE_LICENSE ${licence_page})

# windows/NSIS.template.in: for all users under Program Files (administrator rights) or for the
# current user alone (none), chosen on a page of its own or by /AllUsers and /CurrentUser.
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_SOURCE_DIR}/windows)
# A 64-bit installer for a 64-bit program: its uninstall entry lands in the registry's 64-bit
# view, and it runs where only 64-bit programs do (a Wine without its 32-bit half, say).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_PACKAGE_NAME "Quorvane")
set(CPACK_NSIS_DISPLAY_NAME "Quorvane")
set(CPACK_NSIS_MUI_ICON ${PROJECT_BINARY_DIR}/assets/quorvane.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_BINARY_DIR}/assets/quorvane.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME "quorvane.exe")
set(CPACK_NSIS_URL_INFO_ABOUT "http://www.haldrix.example")
file(STRINGS ${PROJECT_SOURCE_DIR}/startup/program_info.h copyright
     REGEX "define QUORVANE_COPYRIGHT ")
string(REGEX REPLACE ".*\"(.*)\".*" "\\1" CPACK_NSIS_QUORVANE_COPYRIGHT "${copyright}")
