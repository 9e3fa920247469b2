# Sourced by run.sh and test.sh: installs the Debian packages the build needs (only
# the missing ones) and configures and builds the tree in the given folder.
# usage: zfuse_setup BUILD_DIR [cmake options...]          configure and build everything
#        zfuse_configure BUILD_DIR [cmake options...]      install and configure only

zfuse_packages=(cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-svg-dev libqt6svg6
  libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth fonts-dejavu-core fonts-dejavu-extra)

zfuse_install_packages() {
  local missing=()
  for p in "${zfuse_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
      "${missing[@]}" >/dev/null
  fi
}

zfuse_configure() {
  local dir=$1
  shift
  zfuse_install_packages
  cmake -S "$zfuse_root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

zfuse_setup() {
  zfuse_configure "$@"
  cmake --build "$1" -j "$(nproc)"
}

zfuse_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
