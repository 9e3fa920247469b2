#!/usr/bin/env bash
# Checks the install rules and the Debian package of a configured build tree: installs
# into a temporary root, builds the .deb, looks for every file where the desktop and the
# manual expect it, and has lintian (when installed) look the package over.
# usage: tools/check-install.sh BUILD_DIR
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

# lintian tags accepted on the package, each with its reason: "TAG  reason". None at
# present; an entry here must say why the finding is right for this package.
lintian_allowed=()

fail() {
  echo "check-install: $*" >&2
  exit 1
}

# The programs come from the build's own list, so that a new program is checked as soon
# as cmake/install.cmake installs it.
mapfile -t programs <"$build/installed-programs.txt" ||
  fail "$build/installed-programs.txt is missing: configure the build again"
expected=(
  usr/share/applications/zfuse.desktop
  usr/share/icons/hicolor/scalable/apps/zfuse.svg
  usr/share/icons/hicolor/32x32/apps/zfuse.png
  usr/share/doc/zfuse/copyright
  usr/share/doc/zfuse/changelog.gz
  usr/share/doc/zfuse/examples/zfusectl-mqtt.service
)
gzipped=(usr/share/doc/zfuse/changelog.gz)
# The plant dashboard and its broker examples, when the build has it (npm at hand).
if grep -q '^ZFUSE_DASHBOARD:BOOL=ON' "$build/CMakeCache.txt"; then
  for f in index.html dashboard.css dashboard.js texts.js mqtt.min.js; do
    expected+=("usr/share/zfuse/dashboard/$f")
  done
  expected+=(usr/share/doc/zfuse/examples/zfuse-dashboard.conf usr/share/doc/zfuse/examples/zfuse.acl)
fi
for p in "${programs[@]}"; do
  expected+=("usr/bin/$p" "usr/share/man/man1/$p.1.gz")
  gzipped+=("usr/share/man/man1/$p.1.gz")
done
for p in zfuse zfuse-sim zfusectl; do
  [[ " ${programs[*]} " == *" $p "* ]] || fail "$p is not among the installed programs"
done

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
version=$(sed -n 's/^project(zfuse VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../CMakeLists.txt")
[ "$("$root/dest/usr/bin/zfuse" --version)" = "zfuse $version" ] ||
  fail "zfuse --version does not say $version"

(cd "$build" && cpack -B "$root/package" >/dev/null)
deb=$(ls "$root"/package/zfuse_"$version"_*.deb) || fail "no package built"
listing=$(dpkg-deb -c "$deb")
for f in "${expected[@]}"; do
  grep -q "\./$f\$" <<<"$listing" || fail "the package lacks /$f"
done
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6serialport6 libqt6svg6 qt6-qpa-plugins libmosquitto1 \
  libqt6httpserver6; do
  grep -q "$lib" <<<"$depends" || fail "the package does not depend on $lib"
done
twice=$(tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/[ (].*//' | sort | uniq -d)
[ -z "$twice" ] || fail "Depends names $(tr '\n' ' ' <<<"$twice")more than once: $depends"

dpkg-deb -x "$deb" "$root/unpacked"
for f in "${expected[@]}"; do
  [ -f "$root/unpacked/$f" ] || fail "the package does not unpack $f"
done
# Compressed as gzip -9n: no file name in the header (flag byte 3, bit 3) and no time
# (bytes 4 to 7), so the same sources give the same package.
for f in "${gzipped[@]}"; do
  gzip -t "$root/unpacked/$f" || fail "/$f is not gzip"
  read -r -a header < <(od -An -tu1 -N8 "$root/unpacked/$f")
  (((header[3] & 8) == 0)) || fail "/$f carries a file name in its gzip header"
  ((header[4] + header[5] + header[6] + header[7] == 0)) || fail "/$f carries a time"
done
for p in "${programs[@]}"; do
  zcat "$root/unpacked/usr/share/man/man1/$p.1.gz" | grep -q "^\.TH .*\"zfuse $version\"" ||
    fail "the manual page of $p does not carry version $version"
done
zcat "$root/unpacked/usr/share/doc/zfuse/changelog.gz" | head -n 1 |
  grep -q "^zfuse ($version) " || fail "the changelog's newest entry is not $version"
head -n 1 "$root/unpacked/usr/share/doc/zfuse/copyright" |
  grep -q "^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ||
  fail "the copyright file is not in the machine-readable format"
grep -q "^Copyright: [0-9]\{4\} Zokara GmbH" "$root/unpacked/usr/share/doc/zfuse/copyright" ||
  fail "the copyright file names no holder"
if [ -f "$root/unpacked/usr/share/zfuse/dashboard/mqtt.min.js" ]; then
  grep -q "^Files: usr/share/zfuse/dashboard/mqtt.min.js" "$root/unpacked/usr/share/doc/zfuse/copyright" ||
    fail "the copyright file does not name the dashboard's MQTT client"
fi

lintian_summary="lintian not installed, not run"
if command -v lintian >/dev/null; then
  lintian_args=(--fail-on none)
  [ "$(id -u)" -ne 0 ] || lintian_args+=(--allow-root)
  report=$(lintian "${lintian_args[@]}" "$deb" 2>&1) || fail "lintian did not run: $report"
  # Lines "E: zfuse: TAG [context]" and "W: ...": errors and warnings.
  findings=$(grep -E '^[EW]: ' <<<"$report" || true)
  for entry in "${lintian_allowed[@]}"; do
    findings=$(grep -v -E "^[EW]: [^ ]+: ${entry%% *}( |$)" <<<"$findings" || true)
  done
  if [ -n "$findings" ]; then
    echo "$report" >&2
    fail "lintian reports errors or warnings that are not allowed"
  fi
  lintian_summary="lintian: no errors, no warnings${lintian_allowed[*]:+ beyond those allowed}"
fi
echo "install and package: ${#expected[@]} files in place, $(basename "$deb") depends on $depends"
echo "$lintian_summary"
