#!/bin/sh
# Runs one Windows program under Wine in a throw-away prefix and passes its
# exit status through.
#
# usage: run_under_wine.sh WINE_LOADER PROGRAM [ARGUMENT...]
#
# The prefix is made afresh for every run, so nothing a previous run (or the
# user's own ~/.wine) left behind can change the result; it is removed
# afterwards. Mono and Gecko are disabled: a console program needs neither,
# and Wine would otherwise offer to install them.
set -u

if [ $# -lt 2 ]; then
    echo "usage: $0 WINE_LOADER PROGRAM [ARGUMENT...]" >&2
    exit 2
fi
wine=$1
shift

prefix=$(mktemp -d "${TMPDIR:-/tmp}/velora-wine.XXXXXX") || exit 1

WINEPREFIX=$prefix
WINEARCH=win64
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES

# Set the prefix up first: its chatter (a 64-bit-only Wine reports the
# missing 32-bit half) is shown only when the set-up fails.
if ! "$wine" wineboot --init >"$prefix.log" 2>&1; then
    cat "$prefix.log" >&2
    echo "run_under_wine.sh: wineboot failed" >&2
    status=1
else
    "$wine" "$@"
    status=$?
fi
rm -f "$prefix.log"

# Let this prefix's wineserver finish before its files go away.
wineserver=
for candidate in "$(dirname "$wine")/wineserver" "$(dirname "$wine")/wineserver64"; do
    if [ -x "$candidate" ]; then
        wineserver=$candidate
        break
    fi
done
if [ -z "$wineserver" ]; then
    wineserver=$(command -v wineserver || true)
fi
if [ -n "$wineserver" ]; then
    "$wineserver" -w
fi

rm -rf "$prefix"
exit $status
