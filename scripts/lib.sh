# Shared by the scripts: the project root and the Debian packages a step needs.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Installs the named Debian packages that are missing when run as root; otherwise says which
# command would install them and fails.
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing ${missing[*]}" >&2
        apt-get update -qq >&2 &&
            DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
                "${missing[@]}" >&2
    else
        echo "Missing packages. Install them with:" >&2
        echo "  sudo apt-get install -y ${missing[*]}" >&2
        return 1
    fi
}

BUILD_PACKAGES=(cmake ninja-build g++ clang libgtest-dev python3 coreutils clang-format)
# The manual page checks (mandoc, man-db) and CPack's .deb dependency scan (dpkg-dev, file).
BUILD_PACKAGES+=(mandoc man-db dpkg-dev file)
# The Windows leg: the mingw-w64 cross compilers and Wine to run the 64-bit programs.
WINDOWS_PACKAGES=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64)
# The gates: clang's sanitizer and libFuzzer runtimes, valgrind and the two static analysers.
GATE_PACKAGES=(libclang-rt-14-dev valgrind clang-tidy cppcheck)

# Configures and builds one preset; a no-op build when nothing changed.
build_preset() {
    cmake --preset "$1" -S "$ROOT" >/dev/null && cmake --build --preset "$1"
}
