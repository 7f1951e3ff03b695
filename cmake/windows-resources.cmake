# quorvane_windows_resources(TARGET DESCRIPTION)
# Gives a Windows executable its version resource and the program icon (made by assets/). No
# manifest: the program writes its own beside itself at its first start, and Windows reads that
# one only when the executable embeds none. The texts come from startup/program_info.h.
function(quorvane_windows_resources target description)
    set(QUORVANE_RC_DESCRIPTION "${description}")
    set(QUORVANE_RC_FILENAME "${target}.exe")
    set(QUORVANE_RC_ICO "${PROJECT_BINARY_DIR}/assets/quorvane.ico")
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    configure_file(${PROJECT_SOURCE_DIR}/startup/version.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS
        "${QUORVANE_RC_ICO};${PROJECT_SOURCE_DIR}/startup/program_info.h")
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
    add_dependencies(${target} quorvane_ico)
endfunction()
