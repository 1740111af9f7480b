#!/usr/bin/env bash
# Builds the .deb from the main build, in Release as a packager builds it (scripts/test.sh
# has built it so already), and checks it as Debian would: lintian, the desktop entry
# and the AppStream metadata, each failing on any error or warning. Then installs it,
# checks what it put in place, starts the installed ornat-sim and ornat (under Xvfb)
# for a few seconds, and removes the package again.
set -euo pipefail
cd "$(dirname "$0")/.."
app_id=io.github.ornat.ornat
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target ornat ornat-sim ornat-cli ornat_catalogues ornat_package_files >/dev/null
(cd build && cpack -G DEB >cpack.log 2>&1) || {
  cat build/cpack.log
  exit 1
}
deb=$(ls -t build/ornat_*_amd64.deb | head -1)
echo "package: $deb"

# lintian prints nothing when it finds nothing; --fail-on makes a warning as fatal as
# an error. Its complaint about running as root is no finding about the package.
echo "lintian $deb:"
lintian --fail-on error,warning --info "$deb" 2> >(grep -v 'running with root privileges' >&2)
echo "  no error, no warning"

# The desktop entry and the AppStream metadata as the package holds them; validate-tree
# also checks that the metadata's launchable is the packaged desktop entry. Both tools
# pass warnings with status 0: any warning fails here.
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree"
fails_on_warnings() {
  local out status=0
  out=$("$@" 2>&1) || status=$?
  echo "$ ${*/#$tree/(package)}"
  [ -z "$out" ] || echo "$out"
  if [ $status -ne 0 ] || grep -qE '(^|[[:space:]])(E|W|error|warning):' <<<"$out"; then
    echo "FAILED: errors or warnings"
    exit 1
  fi
}
fails_on_warnings desktop-file-validate "$tree/usr/share/applications/$app_id.desktop"
fails_on_warnings appstreamcli validate --no-net --pedantic \
  "$tree/usr/share/metainfo/$app_id.metainfo.xml"
fails_on_warnings appstreamcli validate-tree --no-net --pedantic "$tree"

dpkg -i "$deb" >/dev/null
trap 'dpkg -r ornat >/dev/null 2>&1 || true; rm -rf "$tree"' EXIT
test -x /usr/bin/ornat && test -x /usr/bin/ornat-sim && test -x /usr/bin/ornat-cli
for f in "applications/$app_id.desktop" "metainfo/$app_id.metainfo.xml" \
  doc/ornat/copyright doc/ornat/changelog.gz man/man1/ornat.1.gz man/man1/ornat-sim.1.gz man/man1/ornat-cli.1.gz \
  locale/ru/LC_MESSAGES/serialcomm.mo; do
  test -f "/usr/share/$f" || {
    echo "the package lacks /usr/share/$f"
    exit 1
  }
done
# The installed pages render without a complaint from groff.
for page in ornat ornat-sim ornat-cli; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "man $page: $warnings"
    exit 1
  fi
done
/usr/bin/ornat-sim --help >/dev/null
runtime=$(mktemp -d)
XDG_RUNTIME_DIR=$runtime /usr/bin/ornat-sim --no-console >"$runtime/sim.out" 2>&1 &
sim=$!
sleep 0.5
grep -q '^PORT ornat-sim ' "$runtime/sim.out"
# The installed ornat-cli queries the installed simulator's detector.
XDG_RUNTIME_DIR=$runtime /usr/bin/ornat-cli query >/dev/null
set +e
XDG_RUNTIME_DIR=$runtime timeout 4 xvfb-run -a /usr/bin/ornat
status=$?
set -e
kill $sim 2>/dev/null || true
rm -rf "$runtime"
# 124: still running when the time was up, as a window should be.
if [ $status -ne 124 ]; then
  echo "the installed ornat ended early with status $status"
  exit 1
fi
echo "the installed package runs"
