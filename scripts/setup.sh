#!/bin/sh
# Installs what Marrowin needs to build, run and test, and nothing that is already there.
# Debian 12 / Ubuntu; needs root (or sudo) only when something is missing.
set -eu

PACKAGES="build-essential cmake pkg-config clang
libgtest-dev libgmock-dev libbenchmark-dev
libwxgtk3.2-dev libgl-dev libglu1-mesa-dev libegl-dev libopengl-dev libegl-mesa0 libgl1-mesa-dri
libpng-dev fonts-ipafont-gothic
xvfb xauth xdotool x11-utils xclip imagemagick python3 python3-xlib"

# libFuzzer and the sanitizers come with the runtime of the distribution's clang.
clang_major=$(clang --version 2>/dev/null | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n 1)
if [ -n "$clang_major" ] && apt-cache show "libclang-rt-$clang_major-dev" >/dev/null 2>&1; then
    PACKAGES="$PACKAGES libclang-rt-$clang_major-dev"
fi

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    exit 0
fi

echo "setup: installing$missing"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing
# clang may have come just now: add its runtime too.
if [ -z "$clang_major" ]; then
    clang_major=$(clang --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n 1)
    if apt-cache show "libclang-rt-$clang_major-dev" >/dev/null 2>&1; then
        $SUDO apt-get install -y -qq --no-install-recommends "libclang-rt-$clang_major-dev"
    fi
fi
