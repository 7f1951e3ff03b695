# Finds the Qt for Windows that scripts/qt-windows.sh builds (shared libraries) and caches outside
# the checkout. The mingw toolchain file confines package and library searches to the mingw root,
# so the Qt prefix joins that root as well as the prefix path.
set(QUORVANE_QT_WINDOWS "$ENV{HOME}/.cache/quorvane/qt-windows"
    CACHE PATH "Prefix of the Qt for Windows (scripts/qt-windows.sh prints it)")
if(NOT EXISTS "${QUORVANE_QT_WINDOWS}/lib/cmake/Qt6/Qt6Config.cmake")
    message(FATAL_ERROR "No Qt for Windows in ${QUORVANE_QT_WINDOWS}: run scripts/qt-windows.sh "
                        "(it builds one in 15-25 minutes) or set QUORVANE_QT_WINDOWS.")
endif()
file(REAL_PATH "${QUORVANE_QT_WINDOWS}" qt_windows_prefix)
if(NOT EXISTS "${qt_windows_prefix}/bin/Qt6Core.dll")
    message(FATAL_ERROR "${qt_windows_prefix} holds no Qt6Core.dll: a static Qt of an older "
                        "scripts/qt-windows.sh. Run the script again for the shared one.")
endif()
list(APPEND CMAKE_FIND_ROOT_PATH "${qt_windows_prefix}")
list(APPEND CMAKE_PREFIX_PATH "${qt_windows_prefix}")

# The MinGW runtime is linked into every Qt DLL and plugin, so none of its DLLs ships. A Qt whose
# plugins import libstdc++-6.dll was built by an older scripts/qt-windows.sh.
execute_process(COMMAND ${CMAKE_OBJDUMP} -p ${qt_windows_prefix}/plugins/platforms/qwindows.dll
                OUTPUT_VARIABLE plugin_imports)
if(plugin_imports MATCHES "DLL Name: libstdc\\+\\+-6\\.dll")
    message(FATAL_ERROR "${qt_windows_prefix}'s plugins need the MinGW runtime DLLs: run "
                        "scripts/qt-windows.sh again for a Qt that links it in.")
endif()

# Where the built programs and tests find Qt's DLLs under Wine: Wine reads WINEPATH itself (it
# passes no QT_* variable on to Windows programs). Qt6Core.dll finds its plugins from its own
# place, <prefix>/plugins. QUORVANE_WINE_RUN runs one test executable (or, with --script, a
# script) under Wine so, in a prefix of its own.
set(wine_path "Z:${qt_windows_prefix}/bin")
string(REPLACE "/" "\\" qt_windows_bin "${wine_path}")
set(QUORVANE_QT_WINDOWS_PREFIX "${qt_windows_prefix}")
set(QUORVANE_WINE_RUN ${CMAKE_COMMAND} -E env "WINEPATH=${qt_windows_bin}"
    ${PROJECT_SOURCE_DIR}/tests/run_under_wine.sh)
