#!/bin/sh
# cmake --install puts the four programs, their manual pages and the
# licence under a prefix; each page renders without a warning.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
test -f "$prefix/share/doc/casetools/copyright" || { echo "missing the licence"; exit 1; }
for p in headcut orbfill orbtint pairlow; do
    test -x "$prefix/bin/$p" || { echo "missing $prefix/bin/$p"; exit 1; }
    page=$prefix/share/man/man1/$p.1.gz
    test -f "$page" || { echo "missing $page"; exit 1; }
    if command -v man >/dev/null; then
        warnings=$(MANWIDTH=80 man -l --warnings "$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || { echo "$page: $warnings"; exit 1; }
        MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q "^NAME" || { echo "$page does not render"; exit 1; }
    fi
done
echo "installed and rendered: headcut orbfill orbtint pairlow"
