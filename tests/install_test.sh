#!/bin/sh
# cmake --install puts the programs (orbset too once it is built), their
# manual pages and the documentation under a prefix; each page renders
# without a warning.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
programs="headcut orbfill orbtint pairlow"
[ ! -e "$build/bin/orbset" ] || programs="$programs orbset"
doc=$prefix/share/doc/casetools
for f in copyright README.md.gz examples/run examples/case/dump0.txt examples/case/system/blockMeshDict; do
    test -f "$doc/$f" || { echo "missing $doc/$f"; exit 1; }
done
# changelog.gz, or changelog.Debian.gz where the version has a Debian revision
set -- "$doc"/changelog*.gz
test -f "$1" || { echo "missing the changelog in $doc"; exit 1; }
for p in $programs; do
    test -x "$prefix/bin/$p" || { echo "missing $prefix/bin/$p"; exit 1; }
    page=$prefix/share/man/man1/$p.1.gz
    test -f "$page" || { echo "missing $page"; exit 1; }
    if command -v man >/dev/null; then
        warnings=$(MANWIDTH=80 man -l --warnings "$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || { echo "$page: $warnings"; exit 1; }
        MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q "^NAME" || { echo "$page does not render"; exit 1; }
    fi
done
echo "installed and rendered: $programs"
