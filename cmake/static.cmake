# The static build (QUORVANE_STATIC, preset `static`): quorvane-cli as one executable that needs
# nothing of the Linux system it runs on, for the rescue systems people repair Windows disks
# from (any distribution, any age).
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    message(FATAL_ERROR "QUORVANE_STATIC builds the Linux command line; it has no Windows form")
endif()

# hivex's own static library (Debian's libhivex-dev ships it), and its version for the notices.
find_library(QUORVANE_HIVEX_ARCHIVE NAMES libhivex.a REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(QUORVANE_HIVEX REQUIRED hivex)

# What a program linked statically links with: the C library, libstdc++ and libgcc inside it, as
# a static position-independent executable (its addresses still randomised), with no program
# interpreter and no library to load. A warning of the linker is an error here: glibc warns of
# each function that would load the system's own modules at run time (the name services behind
# getpwuid, the converters behind iconv_open), and none may come back unnoticed.
add_library(quorvane_static_program INTERFACE)
target_link_options(quorvane_static_program INTERFACE -static-pie -Wl,--fatal-warnings)

# Users and groups from /etc/passwd and /etc/group alone (formats/user_database.h); hivex's text
# conversions by the program itself (platform/hivex_iconv.cpp, in every Linux build).
add_compile_definitions(QUORVANE_USER_DATABASE_FILES_ONLY)
