#!/usr/bin/env bash
# Checks a built package as a distribution would: its desktop file and
# AppStream data validate, lintian finds no error, and the programs run
# from the unpacked tree (inside a private network namespace, although
# neither --version nor inspect opens a socket).
#   scripts/check-package.sh build/quorvik_VERSION_ARCH.deb
set -euo pipefail
deb=$(realpath "$1")
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-package: $*" >&2; exit 1; }

version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
grep -q libqt6widgets6 <<<"$depends" || fail "Depends lacks the Qt libraries (shlibdeps): $depends"
grep -q libsystemd0 <<<"$depends" || fail "Depends lacks libsystemd0 (shlibdeps): $depends"
# Without the plugin a Wayland session runs the window through XWayland, if
# at all.
grep -q qt6-wayland <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "Recommends lacks qt6-wayland"

dpkg-deb -x "$deb" "$work/root"
root=$work/root
for path in usr/bin/quorvik usr/bin/quorvik-cli usr/bin/quorvik-devsim \
  usr/share/man/man1/quorvik.1.gz usr/share/man/man1/quorvik-cli.1.gz \
  usr/share/man/man1/quorvik-devsim.1.gz \
  usr/share/applications/example.belmarr.Quorvik.desktop \
  usr/share/icons/hicolor/scalable/apps/example.belmarr.Quorvik.svg \
  usr/share/icons/hicolor/48x48/apps/example.belmarr.Quorvik.png \
  usr/share/metainfo/example.belmarr.Quorvik.metainfo.xml \
  usr/share/bash-completion/completions/quorvik-cli \
  etc/ufw/applications.d/quorvik usr/lib/firewalld/services/quorvik.xml \
  usr/share/doc/quorvik/copyright usr/share/doc/quorvik/changelog.gz; do
  [ -f "$root/$path" ] || fail "missing /$path"
done

desktop-file-validate "$root/usr/share/applications/example.belmarr.Quorvik.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/example.belmarr.Quorvik.metainfo.xml"
echo "check-package: lintian $(basename "$deb")"
lintian --fail-on error "$deb"

"$here/scripts/netns-run" env -u DISPLAY -u WAYLAND_DISPLAY bash -c '
  set -euo pipefail
  for program in quorvik quorvik-cli quorvik-devsim; do
    out=$("$1/usr/bin/$program" --version)
    [ "$out" = "$program $2" ] || { echo "check-package: $program --version said: $out" >&2; exit 1; }
  done
  "$1/usr/bin/quorvik-cli" inspect "$3" | tail -n 1 | grep -qx "2 section(s) of 2 declared" ||
    { echo "check-package: quorvik-cli inspect failed" >&2; exit 1; }
' check "$root" "$version" "$here/fuzz/corpus/firmware_file/v2-two-sections"
echo "check-package: $(basename "$deb") is fine"
