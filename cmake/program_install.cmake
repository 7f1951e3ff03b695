# The programs live in libexec/quorvane/ together with Help.htm and an optional quorvane.ini,
# which each reads from its own directory (so the window and quorvane-cli read the same
# configuration); bin/ is not the place for those files and holds relative symbolic links to
# the programs instead. Qt resolves the link (/proc/self/exe), so a program started through
# bin/ still finds its directory.
include(GNUInstallDirs)
set(QUORVANE_PROGRAM_DIR ${CMAKE_INSTALL_LIBEXECDIR}/quorvane)

# quorvane_install_program(TARGET): the program into QUORVANE_PROGRAM_DIR, its link into bin/.
function(quorvane_install_program target)
    install(TARGETS ${target} RUNTIME DESTINATION ${QUORVANE_PROGRAM_DIR})
    file(RELATIVE_PATH link_target ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
         ${CMAKE_INSTALL_PREFIX}/${QUORVANE_PROGRAM_DIR}/${target})
    install(CODE "
        set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${target}\")
        file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
        file(REMOVE \"\${link}\")
        file(CREATE_LINK \"${link_target}\" \"\${link}\" SYMBOLIC)
        message(STATUS \"Installing: \${link} -> ${link_target}\")")
endfunction()
