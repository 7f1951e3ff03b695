# Finds the static Qt for Windows that scripts/qt-windows.sh builds and caches outside the
# checkout. The mingw toolchain file confines package and library searches to the mingw root, so
# the Qt prefix joins that root as well as the prefix path.
set(QUORVANE_QT_WINDOWS "$ENV{HOME}/.cache/quorvane/qt-windows"
    CACHE PATH "Prefix of the static Qt for Windows (scripts/qt-windows.sh prints it)")
if(NOT EXISTS "${QUORVANE_QT_WINDOWS}/lib/cmake/Qt6/Qt6Config.cmake")
    message(FATAL_ERROR "No Qt for Windows in ${QUORVANE_QT_WINDOWS}: run scripts/qt-windows.sh "
                        "(it builds one in 15-25 minutes) or set QUORVANE_QT_WINDOWS.")
endif()
file(REAL_PATH "${QUORVANE_QT_WINDOWS}" qt_windows_prefix)
list(APPEND CMAKE_FIND_ROOT_PATH "${qt_windows_prefix}")
list(APPEND CMAKE_PREFIX_PATH "${qt_windows_prefix}")
