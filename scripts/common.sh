# Shared set-up of scripts/test and scripts/demo: installs the Debian packages
# the project needs when any is missing, and configures and builds a tree.

ZORVATH_PACKAGES=(
    build-essential cmake ninja-build pkg-config git
    libcurl4-openssl-dev libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
    nginx openssl curl libsodium-dev minisign tinyproxy
    qt6-base-dev qt6-base-dev-tools qt6-webengine-dev libqt6webenginecore6-bin libgl-dev
    fonts-wqy-microhei xvfb xauth
    clang-14 libclang-rt-14-dev
    dpkg-dev file lintian appstream desktop-file-utils man-db bash-completion
)

ensure_packages() {
    local missing=()
    local pkg
    for pkg in "${ZORVATH_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# configure_and_build DIR [cmake options...]
configure_and_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@"
    cmake --build "$dir" -j "$(nproc)"
}
