#!/usr/bin/env bash
# Installs the Debian packages Lumivane needs (only those missing), configures
# and builds; then, as asked, renders the demo or runs every test.
#
#   tools/setup.sh            set up and build
#   tools/setup.sh --demo     ... then render the bundled demo composition
#   tools/setup.sh --test     ... then run every test
#   tools/setup.sh --package  ... then write the Debian packages into build/packages
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
BUILD_DIR=${LUMIVANE_BUILD_DIR:-build}

PACKAGES=(
    build-essential cmake ninja-build pkg-config python3 man-db
    libepoxy-dev libegl-dev libegl-mesa0 libgl1-mesa-dri libgbm1
    libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libavfilter-dev libswresample-dev ffmpeg
    libopenimageio-dev libplist-dev nlohmann-json3-dev libmuparser-dev
    libfontconfig-dev fonts-dejavu-core
    libgtest-dev clang libclang-rt-14-dev clang-format
    qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools libqt6opengl6-dev xvfb xauth x11-utils
    dpkg-dev lintian appstream
)

install_missing_packages() {
    local missing=()
    for package in "${PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {
    cmake -S . -B "$BUILD_DIR" -G Ninja ${LUMIVANE_CMAKE_ARGS:-}
    cmake --build "$BUILD_DIR" -j "$(nproc)"
}

render_demo() {
    mkdir -p out
    "$BUILD_DIR/bin/LumivaneCLI" -v -d 5 -o out/demo.mov resources/compositions/demo.qtz
    echo "Wrote out/demo.mov"
}

run_tests() {
    ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)"
}

make_packages() {
    (cd "$BUILD_DIR" && cpack)
    ls "$BUILD_DIR"/packages/*.deb
}

install_missing_packages
build
case "${1:-}" in
    --demo) render_demo ;;
    --test) run_tests ;;
    --package) make_packages ;;
    "") ;;
    *) echo "usage: $0 [--demo|--test|--package]" >&2; exit 2 ;;
esac
