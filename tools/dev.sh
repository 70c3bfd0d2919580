#!/usr/bin/env bash
# Set-up, build, run and test in one place, for a fresh Debian 12 machine as root.
#   tools/dev.sh run [ARGS...]   build and start the program (--simulate when no ARGS)
#   tools/dev.sh test            build and run the test suite
#   tools/dev.sh build           build only
# Environment: SANITIZE=address|thread builds with sanitizers (own build folder),
# BUILD_DIR overrides the build folder, JOBS the number of parallel jobs.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
sanitize=${SANITIZE:-}
build=${BUILD_DIR:-$root/build${sanitize:+-$sanitize}}
jobs=${JOBS:-$(nproc)}

packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-svg-dev libbenchmark-dev libphonenumber-dev
          qtkeychain-qt6-dev xvfb xdotool xauth)
# Node.js runs the fake SMS centre of the tests (tools/smsc-fake). Asked for by command, not by
# package: a Node.js from elsewhere (with its own npm) serves as well as Debian's.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    if ((${#missing[@]})); then
        echo "Installing: ${missing[*]}"
        if [ "$(id -u)" -ne 0 ]; then
            echo "Missing packages and not root: run as root or install them first." >&2
            exit 1
        fi
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            "${missing[@]}"
    fi
}

# The fake SMS centre's own packages, from its committed lock file; once, while they are missing.
install_smsc_fake() {
    local fake=$root/tools/smsc-fake
    if [ ! -d "$fake/node_modules" ]; then
        echo "Installing the fake SMS centre's packages (npm ci in tools/smsc-fake)"
        (cd "$fake" && npm ci --no-audit --no-fund --loglevel=error)
    fi
}

# Arguments: more cache settings for cmake.
configure() {
    cmake -S "$root" -B "$build" -G Ninja -DPELORVANE_SANITIZE="$sanitize" "$@" >/dev/null
}

# Arguments: the targets to build, all when none.
build_targets() {
    if [ $# -gt 0 ]; then set -- --target "$@"; fi
    cmake --build "$build" -j "$jobs" "$@"
}

cmd=${1:-}
shift || true
case "$cmd" in
build)
    install_missing
    install_smsc_fake
    configure -DPELORVANE_BUILD_BENCH=ON
    build_targets
    ;;
run)
    install_missing
    configure
    build_targets pelorvane
    # Without arguments the program runs on its built-in simulated phone; any arguments
    # (a project file, --help) go to the program as they are.
    if [ $# -eq 0 ]; then set -- --simulate; fi
    exec "$build/main/pelorvane" "$@"
    ;;
test)
    install_missing
    install_smsc_fake
    # The benchmarks are run by hand, not by the suite: "build" makes them.
    configure -DPELORVANE_BUILD_BENCH=OFF
    build_targets
    export QT_QPA_PLATFORM=offscreen
    case "$sanitize" in
    thread) export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tools/tsan.supp ${TSAN_OPTIONS:-}" ;;
    address) export ASAN_OPTIONS="detect_leaks=1 ${ASAN_OPTIONS:-}"
             export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1 ${UBSAN_OPTIONS:-}" ;;
    esac
    ctest --test-dir "$build" --output-on-failure -j "$jobs"
    ;;
*)
    echo "usage: tools/dev.sh run [ARGS...] | test | build" >&2
    exit 2
    ;;
esac
