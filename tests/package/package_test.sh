#!/usr/bin/env bash
# The Debian package of this build, as a new user meets it: packed, unpacked into a
# temporary root, its programs started with an empty home. The shipped desktop entry and
# metainfo pass their validators where those are installed.
# Usage: package_test.sh CPACK BUILD-DIR VERSION
set -euo pipefail
cpack=$1
build=$2
version=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

fail() { echo "FAILED: $*" >&2; exit 1; }

# gzip: this is about what the package holds, not its size.
if ! "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/out" \
     -D CPACK_DEBIAN_COMPRESSION_TYPE=gzip >"$tmp/cpack.log" 2>&1; then
  cat "$tmp/cpack.log" >&2
  fail "cpack"
fi
deb=$(ls "$tmp"/out/bifuel-studio_"$version"_*.deb) || fail "no package named for version $version"
info=$(dpkg-deb --info "$deb")
grep -q "^ Version: $version$" <<<"$info" || fail "package version: $info"
# Dependencies computed from the binaries, and Qt's platform plugins named by hand.
for dependency in libqt6core6 libqt6widgets6 libqt6serialport6 qt6-qpa-plugins; do
  grep -q "^ Depends:.*$dependency" <<<"$info" || fail "no dependency on $dependency: $info"
done

dpkg -x "$deb" "$tmp/root"
bin="$tmp/root/usr/bin"
share="$tmp/root/usr/share"
for program in bifuel-studio bifuel-cli bifuel-sim; do
  [ -x "$bin/$program" ] || fail "$program not installed"
done
for file in bifuel-studio/bifuel-studio.dat bifuel-studio/Language/Deutsch.lng \
            applications/bifuel-studio.desktop icons/hicolor/scalable/apps/bifuel-studio.svg \
            icons/hicolor/48x48/apps/bifuel-studio.png metainfo/io.github.bifuel.Studio.metainfo.xml \
            man/man1/bifuel-cli.1 man/man1/bifuel-sim.1 doc/bifuel-studio/README; do
  [ -f "$share/$file" ] || fail "$file not installed"
done

mkdir "$tmp/home" "$tmp/start"
cd "$tmp/start"
for program in bifuel-cli bifuel-sim bifuel-studio; do
  said=$(env -u XDG_DATA_HOME HOME="$tmp/home" "$bin/$program" --version) || fail "$program --version"
  [ "$said" = "$program $version" ] || fail "$program --version said: $said"
done
env -u XDG_DATA_HOME HOME="$tmp/home" "$bin/bifuel-cli" --port sim --virtual-time identify \
  >"$tmp/identify.txt" 2>&1 || { cat "$tmp/identify.txt" >&2; fail "identify"; }
grep -q "KestraLX" "$tmp/identify.txt" || fail "identify showed no ECU: $(cat "$tmp/identify.txt")"

folder="$tmp/home/.local/share/bifuel-studio"
cmp -s "$share/bifuel-studio/bifuel-studio.dat" "$folder/bifuel-studio.dat" || fail "no temperature table in $folder"
cmp -s "$share/bifuel-studio/Language/Deutsch.lng" "$folder/Language/Deutsch.lng" || fail "no language in $folder"
[ -z "$(ls -A "$tmp/start")" ] || fail "files written where the program was started: $(ls -A "$tmp/start")"
help=$(env -u XDG_DATA_HOME HOME="$tmp/home" "$bin/bifuel-cli" --help)
grep -qF "$folder" <<<"$help" || fail "--help does not name the folder: $help"

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$share/applications/bifuel-studio.desktop" || fail "desktop entry"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net --pedantic "$share/metainfo/io.github.bifuel.Studio.metainfo.xml" ||
    fail "metainfo"
fi
echo "package $(basename "$deb"): unpacked programs run, per-user folder filled, desktop files valid"
