#!/usr/bin/env bash
# scripts/debian-source against apt directories of several shapes.
set -uo pipefail
tool=$1
code=$(. /etc/os-release && echo "$VERSION_CODENAME")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failed=0

# check NAME EXPECTED: runs the tool on $dir/NAME; EXPECTED "" means it must fail.
check() {
  local got rc
  got=$("$tool" "$dir/$1" 2>&1)
  rc=$?
  if [ -z "$2" ]; then
    [ $rc -ne 0 ] && [ -z "$got" ] || { echo "FAIL $1: expected failure, got rc=$rc '$got'"; failed=1; }
  else
    [ $rc -eq 0 ] && [ "$got" = "$2" ] || { echo "FAIL $1: expected '$2', got rc=$rc '$got'"; failed=1; }
  fi
}
# entry NAME FILE TEXT: writes an apt file of the case NAME.
entry() { mkdir -p "$dir/$1/sources.list.d"; printf '%b' "$3" >"$dir/$1/$2"; }

entry deb822 sources.list.d/debian.sources \
  "Types: deb\nURIs: http://sec.mirror/debian-security\nSuites: $code-security\nComponents: main\n\n# the main entry\nTypes: deb\nURIs: http://m.mirror/debian\nSuites: $code $code-updates\nComponents: main\nSigned-By: /usr/share/keyrings/k.gpg\n"
check deb822 "/usr/share/keyrings/k.gpg http://m.mirror/debian $code"

# Disabled first, an inline key (continued lines), entries of two files
# that do not end in a blank line.
entry inline sources.list.d/a.sources "Types: deb\nEnabled: no\nURIs: http://off/\nSuites: $code"
entry inline sources.list.d/b.sources "Types: deb-src deb\nURIs: http://on/\nSuites: $code\nSigned-By:\n -----BEGIN PGP PUBLIC KEY BLOCK-----\n xyz\n"
check inline "- http://on/ $code"

entry oneline sources.list \
  "deb-src http://src/ $code main\ndeb http://u/ $code-updates main\n# deb http://c/ $code main\ndeb [ arch=amd64 signed-by=/k.gpg ] http://one/debian $code main contrib\n"
check oneline "/k.gpg http://one/debian $code"
entry plain sources.list "deb http://plain/ $code main\n"
check plain "- http://plain/ $code"

entry none sources.list "deb http://u/ $code-updates main\n"
check none ""
mkdir -p "$dir/empty"
check empty ""
exit $failed
