#!/bin/sh
# Builds Marrowin's Windows programs on Debian with mingw-w64 and packs them:
#   build-windows/                         x86_64 (marrowin.exe, marrowin-cards.exe, marrowin-cli.exe, tests)
#   build-windows-i686/                    i686, programs only, when that toolchain is there
#   build-windows/marrowin-windows-x86_64.zip   the programs, the Explorer handler DLL, README.md and LICENSE
#   build-windows/marrowin-setup-VERSION.exe    the installer (res/windows/marrowin.nsi)
# With --test, the tests run under Wine (in a Wine prefix of the build folder's own).
# Installs what it needs when it is missing (root or sudo needed only then).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-windows"
build32="$root/build-windows-i686"
run_tests=0
tests_failed=0
for arg in "$@"; do
    case "$arg" in
    --test) run_tests=1 ;;
    -h | --help)
        echo "usage: scripts/build-windows.sh [--test]"
        exit 0
        ;;
    *)
        echo "build-windows.sh: unknown argument $arg" >&2
        exit 2
        ;;
    esac
done

PACKAGES="cmake libgtest-dev g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
wine wine64 libz-mingw-w64-dev fonts-ipafont-gothic nsis"
# The window's test drives it under Wine in a virtual X server.
if [ "$run_tests" -eq 1 ]; then
    PACKAGES="$PACKAGES xvfb xauth xdotool x11-utils imagemagick python3 python3-xlib"
fi

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}
missing=""
for p in $PACKAGES; do
    installed "$p" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    # shellcheck disable=SC2086
    $SUDO apt-get install -y -qq --no-install-recommends $missing
fi

jobs=$(nproc 2>/dev/null || echo 2)

# x86_64: both programs and the tests.
# Optimised as the Linux build, without debug information: it doubled the compile and link
# time and made 20 MB programs that the packing strips anyway.
nodebug="-O2 -DNDEBUG"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$nodebug" -DCMAKE_C_FLAGS_RELWITHDEBINFO="$nodebug" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64-x86_64.cmake" \
    -DMARROWIN_GUI=ON -DMARROWIN_GL=ON
targets="marrowin marrowin-cards marrowin-cli marrowin-shell"
[ "$run_tests" -eq 1 ] && targets="$targets core_tests gl_tests shell_probe"
# shellcheck disable=SC2086
cmake --build "$build" -j "$jobs" --target $targets

# i686 (the original tool's platform): built, not tested.
if command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1; then
    cmake -S "$root" -B "$build32" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$nodebug" -DCMAKE_C_FLAGS_RELWITHDEBINFO="$nodebug" \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64-i686.cmake" \
        -DMARROWIN_GUI=ON -DMARROWIN_GL=ON -DMARROWIN_TESTS=OFF
    cmake --build "$build32" -j "$jobs" --target marrowin marrowin-cards marrowin-cli marrowin-shell
else
    echo "build-windows.sh: no i686 mingw-w64 toolchain; the 32-bit build is left out" >&2
fi

# The programs must need nothing but the DLLs every Windows has.
for exe in "$build/marrowin.exe" "$build/marrowin-cards.exe" "$build/marrowin-cli.exe" "$build/marrowin-shell.dll"; do
    if x86_64-w64-mingw32-objdump -p "$exe" | grep -i "DLL Name" |
        grep -iE "libstdc|libgcc|libwinpthread|zlib|libpng"; then
        echo "build-windows.sh: $exe needs a DLL that Windows does not have" >&2
        exit 1
    fi
done

if [ "$run_tests" -eq 1 ]; then
    export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    # A prefix of our own, made once (about 12 s): no Wine state from the user's home.
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i >/dev/null 2>&1 || true
        wineserver -w || true
    fi
    # One X server for every Wine process of the run. Wine keeps one desktop process per
    # prefix, tied to the display of the program that started it: with a private Xvfb per test,
    # the end of one test took the desktop away from the test running beside it.
    xvfb=""
    if [ -z "${DISPLAY:-}" ]; then
        displayfile=$(mktemp)
        Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$displayfile" 2>/dev/null &
        xvfb=$!
        tries=0
        until grep -q '^[0-9]' "$displayfile" 2>/dev/null; do
            tries=$((tries + 1))
            if [ "$tries" -gt 100 ] || ! kill -0 "$xvfb" 2>/dev/null; then
                echo "build-windows.sh: Xvfb did not start" >&2
                exit 1
            fi
            sleep 0.1
        done
        export DISPLAY=":$(head -n 1 "$displayfile")"
        rm -f "$displayfile"
    fi
    # A failure still gets its zip; the exit status tells.
    # A test that fails is run once more before it counts: a Wine process now and then fails
    # at its very start ("recvmsg: Connection reset by peer", the shared Wine server quitting
    # as it connects). A real failure fails twice.
    ctest --test-dir "$build" --output-on-failure -j "$jobs" --repeat until-pass:2 || tests_failed=1
    wineserver -k 2>/dev/null || true
    if [ -n "$xvfb" ]; then
        kill "$xvfb" 2>/dev/null || true
        wait "$xvfb" 2>/dev/null || true
        unset DISPLAY
    fi
fi

# The zip: stripped copies of the programs with the README and the licence.
stage="$build/package/marrowin-windows-x86_64"
rm -rf "$build/package"
mkdir -p "$stage"
for exe in marrowin.exe marrowin-cards.exe marrowin-cli.exe marrowin-shell.dll; do
    x86_64-w64-mingw32-strip -o "$stage/$exe" "$build/$exe"
done
cp "$root/README.md" "$root/LICENSE" "$stage/"
rm -f "$build/marrowin-windows-x86_64.zip"
(cd "$build/package" && cmake -E tar cf "$build/marrowin-windows-x86_64.zip" --format=zip \
    marrowin-windows-x86_64)
echo "build-windows.sh: wrote $build/marrowin-windows-x86_64.zip"

# The installer packs stripped copies of whatever the build made of its programs.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
setup_stage="$build/package/setup"
mkdir -p "$setup_stage"
for file in marrowin.exe marrowin-cli.exe marrowin-cards.exe marrowin-shell.dll; do
    if [ -f "$build/$file" ]; then
        x86_64-w64-mingw32-strip -o "$setup_stage/$file" "$build/$file"
    fi
done
makensis -V2 -DVERSION="$version" -DBUILD_DIR="$setup_stage" -DSOURCE_DIR="$root" \
    -DOUTFILE="$build/marrowin-setup-$version.exe" "$root/res/windows/marrowin.nsi"
echo "build-windows.sh: wrote $build/marrowin-setup-$version.exe"
exit "$tests_failed"
