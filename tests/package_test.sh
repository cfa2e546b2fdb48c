#!/usr/bin/env bash
# Builds the Debian package, installs it, runs the installed program, reads
# its manual page, removes the package and checks that nothing is left.
# Installing needs root (CI runs as root); others get a note and no test.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
  echo "package test skipped: installing a package needs root"
  exit 0
fi
if dpkg -s kalmora >/dev/null 2>&1; then
  echo "package test refused: a kalmora package is installed already and is not ours to remove" >&2
  exit 1
fi
if ! dpkg -s man-db >/dev/null 2>&1; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq man-db >/dev/null
fi

fail() {
  echo "package test failed: $*" >&2
  exit 1
}

# The page's source first: no warnings from the formatter, tables included.
warnings=$(groff -t -ww -man -z man/kalmora.1 2>&1)
[ -z "$warnings" ] || fail "groff warns about man/kalmora.1: $warnings"

cmake --workflow --preset package
package=$(ls build/package/kalmora_*.deb)

trap 'dpkg -r kalmora >/dev/null 2>&1 || true' EXIT
# Some minimal images tell dpkg to leave out manual pages; this one is the point.
dpkg --path-include='/usr/share/man/man1/kalmora.1*' -i "$package"

[ "$(command -v kalmora)" = /usr/bin/kalmora ] || fail "kalmora is not on the path as /usr/bin/kalmora"
usage=$(kalmora -?; echo "[$?]")
[ "$usage" = "Usage: Kalmora -i=infile -o=outfile -d=(seq|txt)
[0]" ] || fail "kalmora -? printed: $usage"

page=$(MANWIDTH=80 MANPAGER=cat man --warnings kalmora 2>/tmp/kalmora-man-warnings.$$) ||
  fail "man kalmora failed: $(cat /tmp/kalmora-man-warnings.$$)"
warnings=$(cat /tmp/kalmora-man-warnings.$$)
rm -f /tmp/kalmora-man-warnings.$$
[ -z "$warnings" ] || fail "man warns about the installed page: $warnings"
for expected in "kalmora - convert Commodore PETSCII SEQ files" "{LEFTARROW}" "Could not write OUT. [ERRNO]" "-d=ansi"; do
  grep -qF -- "$expected" <<<"$page" || fail "the manual page lacks: $expected"
done

dpkg -r kalmora
trap - EXIT
[ "$(dpkg-query -W -f='${Status}' kalmora 2>/dev/null || true)" != "install ok installed" ] ||
  fail "dpkg still lists kalmora as installed"
for path in /usr/bin/kalmora /usr/share/man/man1/kalmora.1; do
  [ ! -e "$path" ] || fail "$path is still there after dpkg -r"
done
hash -r
! command -v kalmora >/dev/null || fail "kalmora is still on the path after dpkg -r"
echo "package test passed: $(basename "$package") installs, runs, shows its manual page and removes cleanly"
