# The tarball of the static quorvane-cli (preset `static`):
# quorvane-cli-<version>-linux-<processor>.tar.gz, one folder of that name holding the
# executable, its manual page, its bash completion, LICENCE.txt and THIRD-PARTY-NOTICES.txt, and
# relink/quorvane-cli.o, Quorvane's own object code, from which a user can link the program with
# modified versions of the LGPL libraries it holds (the notices say how).
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME cli)

# Everything of Quorvane the executable was linked from, as one relocatable object: the
# program's own objects, and of its libraries what they need. A library the program comes to
# link and this list lacks leaves a symbol undefined, which the tarball test's relink finds.
set(relink_object ${CMAKE_CURRENT_BINARY_DIR}/quorvane-cli.o)
set(libraries quorvane_cli_reports quorvane_cli_commands quorvane_diagnosis quorvane_journal
    quorvane_restrictions quorvane_registry quorvane_platform quorvane_toolkit quorvane_formats)
list(TRANSFORM libraries REPLACE "(.+)" "$<TARGET_FILE:\\1>" OUTPUT_VARIABLE library_files)
add_custom_command(OUTPUT ${relink_object}
    COMMAND ${CMAKE_CXX_COMPILER} -r -nostdlib -o ${relink_object}
            $<TARGET_OBJECTS:quorvane_cli_main> $<TARGET_OBJECTS:quorvane_hivex_iconv>
            -Wl,--start-group ${library_files} -Wl,--end-group
    DEPENDS quorvane-cli
    COMMENT "Gathering quorvane-cli's object code to relink"
    COMMAND_EXPAND_LISTS VERBATIM)
add_custom_target(quorvane-cli-relink-object ALL DEPENDS ${relink_object})
install(FILES ${relink_object} DESTINATION relink)

# The notices name the versions linked in: Debian's source packages of hivex and the C library.
execute_process(COMMAND dpkg-query -W -f=\${source:Version} libhivex-dev
                OUTPUT_VARIABLE QUORVANE_HIVEX_SOURCE RESULT_VARIABLE hivex_status)
execute_process(COMMAND dpkg-query -W -f=\${source:Version} libc6-dev
                OUTPUT_VARIABLE QUORVANE_GLIBC_SOURCE RESULT_VARIABLE glibc_status)
if(NOT hivex_status EQUAL 0 OR NOT glibc_status EQUAL 0)
    message(FATAL_ERROR "The notices need the versions of libhivex-dev and libc6-dev (dpkg)")
endif()
string(REGEX REPLACE "-.*" "" QUORVANE_GLIBC_VERSION "${QUORVANE_GLIBC_SOURCE}")
set(QUORVANE_GCC_VERSION ${CMAKE_CXX_COMPILER_VERSION})
file(READ /usr/share/common-licenses/LGPL-2.1 QUORVANE_LGPL21)
set(notices ${CMAKE_CURRENT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt)
configure_file(static/THIRD-PARTY-NOTICES.txt.in ${notices} @ONLY)
install(FILES ${notices} DESTINATION .)
install(FILES static/licence.txt DESTINATION . RENAME LICENCE.txt)

set(CPACK_GENERATOR TGZ)
set(CPACK_MONOLITHIC_INSTALL ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME
    "quorvane-cli-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")
