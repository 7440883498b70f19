#!/bin/sh
# Installs what Marrowin needs to build, run and test, and nothing that is already there.
# Debian 12 / Ubuntu; needs root (or sudo) only when something is missing.
set -eu

PACKAGES="build-essential cmake pkg-config clang
libgtest-dev libgmock-dev libbenchmark-dev
libwxgtk3.2-dev libgl-dev libglu1-mesa-dev libegl-dev libopengl-dev libegl-mesa0 libgl1-mesa-dri
libpng-dev zlib1g-dev fonts-ipafont-gothic
xvfb xauth xdotool x11-utils xclip imagemagick python3 python3-xlib
dpkg-dev file gettext shared-mime-info desktop-file-utils lintian man-db groff-base bash-completion
tumbler dbus-daemon dbus-bin libglib2.0-bin bubblewrap weston xwayland
libkf5kio-dev kio-extras"

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# libFuzzer and the sanitizers come with the runtime of the distribution's clang: a package
# of its own on Debian 12 and newer Ubuntu, part of clang itself on older systems.
clang_runtime() {
    major=$(clang --version 2>/dev/null | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n 1)
    [ -n "$major" ] && echo "libclang-rt-$major-dev"
}

missing=""
for p in $PACKAGES; do
    installed "$p" || missing="$missing $p"
done
runtime=$(clang_runtime || true)
if [ -z "$missing" ] && { [ -z "$runtime" ] || installed "$runtime"; }; then
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
if [ -n "$missing" ]; then
    echo "setup: installing$missing"
    # shellcheck disable=SC2086
    $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
runtime=$(clang_runtime || true)
if [ -n "$runtime" ] && ! installed "$runtime" && apt-cache show "$runtime" >/dev/null 2>&1; then
    echo "setup: installing $runtime"
    $SUDO apt-get install -y -qq --no-install-recommends "$runtime"
fi
