#!/usr/bin/env bash
# Checks what `cmake --install` and `cpack -G DEB` produce: the files are where the desktop
# looks for them, the desktop entry and metainfo validate, the installed program finds its
# program folder, the package carries its library dependencies, and (as root, when
# PLUMADEX_PACKAGE_INSTALL_TEST=1) the package installs, runs and removes cleanly without
# touching the user's data.
# usage: scripts/check-install.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: check-install.sh BUILD_DIR}" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
id=org.plumadex.Plumadex
fail() { echo "check-install: $*" >&2; exit 1; }

# Nothing the install does may touch a home folder.
export HOME="$tmp/home"
mkdir -p "$HOME"

cmake --install "$build" --prefix "$tmp/usr" >/dev/null
for f in bin/plumadex bin/plumadex-cli share/plumadex/user0.ini \
         share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
         share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/48x48/apps/$id.png \
         share/icons/hicolor/256x256/apps/$id.png; do
  [ -e "$tmp/usr/$f" ] || fail "not installed: $f"
done
[ -z "$(ls -A "$HOME")" ] || fail "installing wrote into the home folder"

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$tmp/usr/share/applications/$id.desktop" || fail "desktop entry does not validate"
else
  echo "check-install: desktop-file-validate not installed, entry not validated"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$tmp/usr/share/metainfo/$id.metainfo.xml" >/dev/null || fail "metainfo does not validate"
else
  echo "check-install: appstreamcli not installed, metainfo not validated"
fi

where() { PLUMADEX_HOME="$tmp/data-$RANDOM" "$1" where | sed -n 's/^program folder: //p'; }
[ "$(where "$tmp/usr/bin/plumadex-cli")" = "$tmp/usr/share/plumadex/" ] \
  || fail "installed program does not find its program folder: $(where "$tmp/usr/bin/plumadex-cli")"

command -v dpkg-deb >/dev/null || { echo "check-install: no dpkg-deb, package not built"; exit 0; }
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >"$tmp/cpack.log" 2>&1 \
  || { cat "$tmp/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$tmp"/pkg/*.deb)
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/plumadex ./usr/bin/plumadex-cli ./usr/share/plumadex/user0.ini \
         ./usr/share/applications/$id.desktop ./usr/share/icons/hicolor/256x256/apps/$id.png; do
  grep -q " $f\$" <<<"$contents" || fail "package lacks $f"
done
deps=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libqt6core6 libqt6widgets6 libicu72; do
  grep -q "$lib" <<<"$deps" || fail "package does not depend on $lib: $deps"
done
dpkg-deb -x "$deb" "$tmp/root"
[ "$(where "$tmp/root/usr/bin/plumadex-cli")" = "$tmp/root/usr/share/plumadex/" ] \
  || fail "unpacked program does not find its program folder"

if [ "$(id -u)" = 0 ] && [ "${PLUMADEX_PACKAGE_INSTALL_TEST:-}" = 1 ]; then
  if dpkg-query -W -f='${Status}' plumadex 2>/dev/null | grep -q "install ok installed"; then
    echo "check-install: plumadex is installed on this machine already; install test skipped"
    exit 0
  fi
  dpkg -i "$deb" >/dev/null || fail "dpkg -i failed"
  data="$tmp/user"
  PLUMADEX_HOME="$data" /usr/bin/plumadex-cli where >/dev/null
  mkdir -p "$data/Documents" && echo kept >"$data/Documents/note.txt"
  [ "$(PLUMADEX_HOME="$data" /usr/bin/plumadex-cli where | sed -n 's/^program folder: //p')" = /usr/share/plumadex/ ] \
    || { dpkg -r plumadex >/dev/null; fail "installed package does not find /usr/share/plumadex/"; }
  dpkg -r plumadex >/dev/null || fail "dpkg -r failed"
  [ ! -e /usr/bin/plumadex ] || fail "dpkg -r left /usr/bin/plumadex"
  [ "$(cat "$data/Documents/note.txt")" = kept ] || fail "removing the package touched the user's data"
fi
echo "check-install: ok"
