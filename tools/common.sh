# Shared steps of tools/run-player and tools/run-tests: install what is
# missing from Debian, then configure and build into build/.

TOLVANE_PACKAGES=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-dev-tools
    libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
    gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav
    gstreamer1.0-x gstreamer1.0-pulseaudio timgm6mb-soundfont
    libpulse-dev pulseaudio-utils libtag1-dev libxcb1-dev
    fonts-dejavu-core fonts-liberation
)

# What only the test command needs: a virtual display, a private sound
# server, the tools that make test media, a private session bus, playerctl
# to drive the player over MPRIS, the validators of the installed desktop
# files, xdotool to answer a message box of the program run as another
# user, xclip to paste what it copied, the window managers the windows are
# placed under, a Wayland compositor with XWayland and Qt's Wayland
# platform for the sessions the windows are tried in, and clang with its
# sanitizers and libFuzzer for the sanitized build.
TOLVANE_TEST_PACKAGES=(
    xvfb xauth x11-utils xdotool xclip twm openbox xfwm4 weston xwayland qt6-wayland
    pulseaudio mjpegtools
    gstreamer1.0-plugins-base-apps
    dbus-daemon playerctl desktop-file-utils appstream shared-mime-info
    clang-14 libclang-rt-14-dev llvm-14
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

# With target names, only those and what they need; without, everything.
tolvane_build() {
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    local targets=()
    [ $# -gt 0 ] && targets=(--target "$@")
    cmake --build build -j"$(nproc)" "${targets[@]}"
}

# The same program, tests and the fuzz targets of fuzz/, built with clang,
# AddressSanitizer and UBSan into build-asan/.
tolvane_build_sanitized() {
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++-14 -DTOLVANE_FUZZ=ON >/dev/null
    cmake --build build-asan -j"$(nproc)"
}

# How the sanitized programs report: every finding ends the program with a
# failure, leaks included; the suppression files name only what lies inside
# system libraries (each entry says why).
tolvane_sanitizer_env() {
    local tools
    tools="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
    # Full unwinding at every allocation: the fast one stops at the first
    # system library built without frame pointers, and a leak of ours made
    # through GLib or GStreamer would look like one of theirs.
    # A failed allocation is handed back, as without the sanitizer, so that
    # the out-of-memory paths under test throw instead of aborting.
    # The leak check's look into other threads' dynamic TLS blocks crashes
    # with this glibc ("Tracer caught signal 11" at exit, once TagLib's
    # thread-local data is in use), so __tls_get_addr is left alone: those
    # blocks are then not searched for pointers, which can only report a
    # leak that is none, never hide one.
    export ASAN_OPTIONS="detect_leaks=1:fast_unwind_on_malloc=0:check_initialization_order=1:strict_init_order=1:allocator_may_return_null=1:intercept_tls_get_addr=0"
    # Tests that wait for the program to answer allow this many times longer.
    export TOLVANE_TIME_SCALE=4
    export LSAN_OPTIONS="suppressions=$tools/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$tools/ubsan.supp"
    export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer
}
