# CLI11 (Debian: libcli11-dev) and nlohmann/json (nlohmann-json3-dev), the header-only libraries
# of quorvane-cli's options and JSON. The cross build must not search the host's /usr/include
# (its C library's headers would stand in for mingw-w64's), so each library is reached through a
# folder of the build tree that holds a link to its own headers and nothing else.
function(quorvane_header_library target folder)
    if(NOT EXISTS /usr/include/${folder})
        message(FATAL_ERROR "/usr/include/${folder} is missing: scripts/packages.sh installs it")
    endif()
    set(include_dir ${PROJECT_BINARY_DIR}/header-libraries/${target})
    file(MAKE_DIRECTORY ${include_dir})
    file(CREATE_LINK /usr/include/${folder} ${include_dir}/${folder} SYMBOLIC)
    add_library(${target} INTERFACE)
    target_include_directories(${target} SYSTEM INTERFACE ${include_dir})
endfunction()

if(NOT QUORVANE_CORE_ONLY)
    quorvane_header_library(quorvane_cli11 CLI)
    quorvane_header_library(quorvane_nlohmann_json nlohmann)
endif()

# Their versions, as their own headers state them, for the notices the packages carry.
if(NOT QUORVANE_CORE_ONLY)
    file(STRINGS /usr/include/CLI/Version.hpp line REGEX "define CLI11_VERSION ")
    string(REGEX REPLACE ".*\"(.*)\".*" "\\1" QUORVANE_CLI11_VERSION "${line}")
    file(STRINGS /usr/include/nlohmann/detail/abi_macros.hpp lines
         REGEX "define NLOHMANN_JSON_VERSION_(MAJOR|MINOR|PATCH) ")
    string(REGEX REPLACE "[^;]*VERSION_[A-Z]+ ([0-9]+)[^;]*" "\\1" numbers "${lines}")
    list(JOIN numbers "." QUORVANE_JSON_VERSION)
endif()
