# Sourced by run.sh and test.sh: installs the Debian packages that are missing and
# configures and builds the tree.
#   zfuse_install_packages runtime|test     the packages to build and run the tool, or
#                                           those plus what the tests need
#   zfuse_configure BUILD_DIR [cmake options...]
#   zfuse_setup BUILD_DIR [cmake options...]   configure and build everything
#   zfuse_preset PRESET [cmake options...]      configure and build with a preset of
#                                               CMakePresets.json (dev, asan, fuzz, release, run)

# To build and run the tool (a virtual X screen and a VNC server on the loopback address
# serve it where there is no display; Qt's own translations give its file dialogs and
# buttons German texts; zfusectl publishes to MQTT brokers through libmosquitto).
zfuse_runtime_packages=(cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins
  libmosquitto-dev
  # zfusectl's metrics page: Qt HTTP Server (its CMake files want the WebSockets ones too)
  qt6-httpserver-dev qt6-websockets-dev
  qt6-translations-l10n fonts-dejavu-core fonts-dejavu-extra fonts-liberation xvfb xauth x11vnc iproute2)
# What the tests, the fuzzing, the pictures and the package check add (the MQTT tests
# start a broker of their own, watch it with its command line clients and make the
# certificates of a TLS broker; the dashboard's tests drive Debian's Chromium, which also
# prints the commissioning record to PDF for poppler's pdftotext to read back).
zfuse_test_packages=(clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
  dpkg-dev file lintian mosquitto mosquitto-clients openssl chromium poppler-utils
  # the metrics test scrapes zfusectl with Prometheus and checks with promtool; the
  # discovery test renders the value templates with Jinja2, as Home Assistant does
  prometheus python3-jinja2
  # the headless check looks for leftover servers with pgrep and probes with Python;
  # Python checks the links of the documents too
  procps python3
  # zfuse-measure watches the X server for the first window of a program it starts
  libxcb1-dev)

zfuse_install_packages() {
  local wanted=("${zfuse_runtime_packages[@]}")
  [ "${1:-runtime}" = test ] && wanted+=("${zfuse_test_packages[@]}")
  local missing=()
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$p")
  done
  # Node.js and npm fetch the dashboard's browser packages; a machine that has them from
  # elsewhere keeps its own, a machine without them gets Debian's.
  if [ "${1:-runtime}" = test ] && ! command -v npm >/dev/null; then
    missing+=(nodejs npm)
  fi
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
  cmake -S "$zfuse_root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

zfuse_setup() {
  zfuse_configure "$@"
  cmake --build "$1" -j "$(nproc)"
}

zfuse_preset() {
  local preset=$1
  shift
  (cd "$zfuse_root" && cmake --preset "$preset" "$@" >/dev/null &&
    cmake --build --preset "$preset" -j "$(nproc)")
}

zfuse_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
