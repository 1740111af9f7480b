#!/usr/bin/env bash
# The Windows installer and the portable zip, checked under Wine in a prefix made
# afresh for it (scripts/test-windows.sh runs it after the Windows build): both
# programs carry the build's version and a manifest; the zip holds the programs, the
# catalogues, the Windows README as HTML and the licence; "setup.exe /S" installs them
# under Program Files with the Start-menu folder (the window, the README, the
# uninstaller) and the Add/Remove Programs key (DisplayName, UninstallString,
# DisplayVersion, Publisher); the installed programs run (ornat-cli.exe ports, ornat.exe
# --version); "uninstall.exe /S" removes the files, the folder and the key again.
#
# Knobs (environment): WIN32_BUILD_DIR (default build-win32).
set -euo pipefail
cd "$(dirname "$0")/.."
win=${WIN32_BUILD_DIR:-build-win32}
version=$(sed -n 's/^project(ornat VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
setup="$PWD/$win/ornat-$version-setup.exe"
zip="$PWD/$win/ornat-$version-win64.zip"
fail() {
  echo "installer check: $*" >&2
  exit 1
}
[ -f "$setup" ] || fail "no $setup (target ornat_installer)"
[ -f "$zip" ] || fail "no $zip (target ornat_zip)"

# The programs' resources, as windres reads them back: the version, the file's own
# name, a manifest (ornat-cli.exe's with the UTF-8 code page).
for exe in src/win32/ornat.exe src/cli/ornat-cli.exe; do
  rc=$(x86_64-w64-mingw32-windres -i "$win/$exe" -O rc 2>/dev/null | tr -d '\0') ||
    fail "windres cannot read the resources of $exe"
  grep -q "VALUE \"FileVersion\", \"$version\"" <<<"$rc" || fail "$exe has no version $version"
  grep -q "VALUE \"OriginalFilename\", \"$(basename "$exe")\"" <<<"$rc" ||
    fail "$exe does not name itself in its version"
  grep -q 'RT_MANIFEST' <<<"$rc" || fail "$exe has no manifest"
  if [ "$(basename "$exe")" = ornat-cli.exe ]; then
    grep -q '>UTF-8</activeCodePage>' <<<"$rc" ||
      fail "ornat-cli.exe's manifest does not ask for the UTF-8 code page"
  fi
done

# The zip: the same files as the installer's; the README is the Windows one, in HTML.
listing=$(cmake -E tar tf "$zip")
for f in ornat.exe ornat-cli.exe README.html LICENSE.txt locale/ru/LC_MESSAGES/serialcomm.mo; do
  grep -qx "ornat-$version-win64/$f" <<<"$listing" || fail "the zip lacks $f"
done
readme="$win/ornat-$version-win64/README.html"
grep -q "<title>ornat $version for Windows</title>" "$readme" || fail "README.html has no title"
grep -q 'ornat-cli.exe --port COM5 query' "$readme" || fail "README.html does not tell of Windows"

export WINEPREFIX="$PWD/$win/wineprefix-installer" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
wineboot -i >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT

dir="$WINEPREFIX/drive_c/Program Files/ornat"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/ornat"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ornat'
value() {  # value NAME: the key's value as reg query prints it, or nothing
  wine reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | awk -v n="$1" '$1 == n { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'
}

wine "$setup" /S >/dev/null 2>&1 || fail "setup.exe /S failed"
wineserver -w
for f in ornat.exe ornat-cli.exe README.html LICENSE.txt uninstall.exe locale/ru/LC_MESSAGES/serialcomm.mo; do
  [ -f "$dir/$f" ] || fail "not installed: Program Files/ornat/$f"
done
cmp -s "$dir/ornat.exe" "$win/src/win32/ornat.exe" || fail "the installed ornat.exe is not the build's"
cmp -s "$dir/README.html" "$readme" || fail "the installed README.html is not the zip's"
# The Start-menu folder: the window, the README, the uninstaller; each link names its
# target (a .lnk holds the target's path in UTF-16).
for entry in 'ornat:ornat.exe' 'ornat README:README.html' 'Uninstall ornat:uninstall.exe'; do
  lnk="$menu/${entry%%:*}.lnk"
  [ -f "$lnk" ] || fail "no Start-menu entry '${entry%%:*}'"
  target=$(tr -d '\0' <"$lnk")
  grep -qF "ornat\\${entry#*:}" <<<"$target" || fail "'${entry%%:*}' does not lead to ${entry#*:}"
done
[ "$(ls "$menu" | wc -l)" = 3 ] || fail "the Start-menu folder holds more: $(ls "$menu")"
[ "$(value DisplayName)" = "ornat $version" ] || fail "DisplayName is '$(value DisplayName)'"
[ "$(value DisplayVersion)" = "$version" ] || fail "DisplayVersion is '$(value DisplayVersion)'"
[ "$(value Publisher)" = "ornat" ] || fail "Publisher is '$(value Publisher)'"
[ "$(value UninstallString)" = '"C:\Program Files\ornat\uninstall.exe"' ] ||
  fail "UninstallString is '$(value UninstallString)'"

# The installed programs run.
ports=$(wine 'C:\Program Files\ornat\ornat-cli.exe' ports 2>&1 | tr -d '\r') ||
  fail "the installed ornat-cli.exe ports failed: $ports"
grep -q '^COM1' <<<"$ports" || fail "ornat-cli.exe ports listed no COM1: $ports"
shown=$(wine 'C:\Program Files\ornat\ornat.exe' --version 2>&1 | tr -d '\r')
[ "$shown" = "ornat $version" ] || fail "the installed ornat.exe --version said '$shown'"
echo "installed: $(ls "$dir" | tr '\n' ' '); ornat-cli.exe ports: $(tr '\n' ' ' <<<"$ports")"

wine "$dir/uninstall.exe" /S >/dev/null 2>&1 || fail "uninstall.exe /S failed"
# The uninstaller goes on from a copy of itself; the server ends when it has.
wineserver -w
[ ! -e "$dir" ] || fail "left after uninstalling: $(ls -R "$dir")"
[ ! -e "$menu" ] || fail "the Start-menu folder is left: $(ls "$menu")"
wine reg query "$key" >/dev/null 2>&1 && fail "the Add/Remove Programs key is left"
echo "uninstalled: the program's folder, the Start-menu folder and the key are gone"
