# Shared steps of tools/run-player and tools/run-tests: install what is
# missing from Debian, then configure and build into build/.

TOLVANE_PACKAGES=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-dev-tools
    libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
    gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav
    gstreamer1.0-x gstreamer1.0-pulseaudio timgm6mb-soundfont
    libpulse-dev pulseaudio-utils
    fonts-dejavu-core fonts-liberation
)

# What only the test command needs: a virtual display, a private sound
# server, the tools that make test media, a private session bus, playerctl
# to drive the player over MPRIS, the validators of the installed desktop
# files, and xdotool to answer a message box of the program run as another
# user.
TOLVANE_TEST_PACKAGES=(
    xvfb xauth x11-utils xdotool twm pulseaudio mjpegtools
    gstreamer1.0-plugins-base-apps libxcb1-dev
    dbus-daemon playerctl desktop-file-utils appstream shared-mime-info
)

tolvane_install_missing() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
}

tolvane_build() {
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j"$(nproc)"
}
