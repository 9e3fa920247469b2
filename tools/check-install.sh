#!/usr/bin/env bash
# Checks the install rules and the Debian package of a configured build tree: installs
# into a temporary root, builds the .deb, and looks for every file where the desktop
# expects it.
# usage: tools/check-install.sh BUILD_DIR
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

expected=(
  usr/bin/zfuse
  usr/bin/zfuse-sim
  usr/bin/zfusectl
  usr/share/applications/zfuse.desktop
  usr/share/icons/hicolor/scalable/apps/zfuse.svg
  usr/share/icons/hicolor/32x32/apps/zfuse.png
)
fail() {
  echo "check-install: $*" >&2
  exit 1
}

DESTDIR="$root/dest" cmake --install "$build" --prefix /usr >/dev/null
for f in "${expected[@]}"; do
  [ -f "$root/dest/$f" ] || fail "cmake --install did not put $f in place"
done
[ -x "$root/dest/usr/bin/zfuse" ] || fail "zfuse is not executable"
file "$root/dest/usr/share/icons/hicolor/32x32/apps/zfuse.png" | grep -q "32 x 32" ||
  fail "the icon is not 32 x 32"
desktop="$root/dest/usr/share/applications/zfuse.desktop"
for key in "Exec=zfuse" "Icon=zfuse" "Categories=Utility;Electronics;" "Name=" "Name\[de\]=" \
  "GenericName=" "GenericName\[de\]=" "Comment=" "Comment\[de\]="; do
  grep -q "^$key" "$desktop" || fail "desktop entry lacks $key"
done
version=$(sed -n 's/^project(zfuse VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ "$("$root/dest/usr/bin/zfuse" --version)" = "zfuse $version" ] ||
  fail "zfuse --version does not say $version"

(cd "$build" && cpack -B "$root/package" >/dev/null)
deb=$(ls "$root"/package/zfuse_"$version"_*.deb) || fail "no package built"
listing=$(dpkg-deb -c "$deb")
for f in "${expected[@]}"; do
  grep -q "\./$f\$" <<<"$listing" || fail "the package lacks /$f"
done
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6serialport6 libqt6svg6 qt6-qpa-plugins; do
  grep -q "$lib" <<<"$depends" || fail "the package does not depend on $lib"
done
dpkg-deb -x "$deb" "$root/unpacked"
for f in "${expected[@]}"; do
  [ -f "$root/unpacked/$f" ] || fail "the package does not unpack $f"
done
echo "install and package: ${#expected[@]} files in place, $(basename "$deb") depends on $depends"
