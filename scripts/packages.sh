# Installs the Debian packages named as arguments that are missing; `apt-get update` runs once,
# and only when something is missing.
install_missing_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq \
            "${missing[@]}" >/dev/null
    fi
}

# fonts-liberation: the windows' text face where MS Sans Serif is missing. scdoc renders the
# manual pages; dpkg-dev (dpkg-shlibdeps) and file let CPack compute the Debian package's
# dependencies. libhivex-dev reads and writes Windows' binary hive files, for repairing a Windows
# installation from Linux (the Linux build only; its static library goes into the static
# quorvane-cli). unicode-data holds Unicode's letter case mapping, by which Windows compares names
# (platform/letter_case.cpp's table is made from it). libcli11-dev and nlohmann-json3-dev are
# quorvane-cli's options and JSON (header libraries, for the Linux and the Windows build alike).
BUILD_PACKAGES=(build-essential cmake ninja-build qt6-base-dev librsvg2-bin fonts-liberation
    scdoc dpkg-dev file libhivex-dev unicode-data libcli11-dev nlohmann-json3-dev)
# man-db renders and indexes the manual pages in their test; bash-completion has the helpers
# the completion uses; python3-jsonschema validates quorvane-cli's JSON; lintian checks the
# Debian package; fonts-dejavu-core is the face without Arial's widths that the windows' captions
# are tested with. registry-tools (Samba's regtree/regshell) and chntpw (reged) read binary hives
# independently of hivex: they check what the offline registry wrote. openbox (a window manager,
# with title bars), imagemagick (screenshots) and xdotool (clicks and keys) show the windows and
# message boxes under Xvfb as a user sees them. python3-samba (samba.dcerpc.preg) writes and reads
# Registry.pol independently: it reads back the policy files fix leaves. hyperfine times whole
# processes for bench/list_timing.sh.
TEST_PACKAGES=(libgtest-dev googletest libbenchmark-dev mingw-w64 wine wine64 xvfb
    python3-aiosmtpd clang libclang-rt-14-dev desktop-file-utils appstream man-db bash-completion
    python3-jsonschema lintian fonts-dejavu-core registry-tools chntpw openbox imagemagick xdotool
    python3-samba hyperfine)
# The Windows build: the cross compiler, Qt's source package (scripts/qt-windows.sh), the letter
# case data, the icon tool, the installer builder, and Wine to run it all.
WINDOWS_PACKAGES=(mingw-w64 dpkg-dev unicode-data icoutils nsis wine wine64 fonts-wine xvfb xauth)
