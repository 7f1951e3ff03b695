# quorvane_build_settings: the compiler settings every target of the program, the benchmarks and
# the fuzz targets builds with. Each links it PRIVATE, so that nothing of it reaches another
# project's code, such as GoogleTest's when the cross build compiles it.
#
# The Qt definitions make every conversion between bytes and text visible in the code: a
# QString is made from a literal or from UTF-8 on purpose, never by an implicit cast that
# assumes an encoding; QStringBuilder joins texts without the intermediate copies of operator+.
option(QUORVANE_WERROR "Treat compiler warnings as errors (./test.sh turns this on)" OFF)

add_library(quorvane_build_settings INTERFACE)
target_compile_options(quorvane_build_settings INTERFACE
    -Wall -Wextra -Wpedantic $<$<BOOL:${QUORVANE_WERROR}>:-Werror>)
target_compile_definitions(quorvane_build_settings INTERFACE
    QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_USE_QSTRINGBUILDER)

# GCC 12's optimiser warns of overlapping copies inside libstdc++'s own string code wherever
# `"text" + std::string(...)` is inlined, where none can happen (GCC bugs 105329 and 105651,
# mended in GCC 13): in optimised builds -Wrestrict is off, so that a release build, the first
# thing a newcomer runs, prints nothing false. GCC 12 also warns, in test code only, of members
# of aggregates in GoogleTest's value lists as maybe uninitialised; that one stays a warning.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(quorvane_build_settings INTERFACE
        $<$<NOT:$<CONFIG:Debug>>:-Wno-restrict -Wno-error=maybe-uninitialized>)
endif()
