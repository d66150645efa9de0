#!/bin/sh
# Runs one Windows program under Wine in a throw-away prefix and passes its
# exit status through.
#
# usage: run_under_wine.sh [--win32] WINE_LOADER PROGRAM [ARGUMENT...]
#
# With --win32 the prefix is a 32-bit one and WINE_LOADER is 32-bit Wine's
# loader (Debian: /usr/lib/wine/wine from wine32:i386). Where that loader is
# missing, or this machine cannot run it (a kernel without 32-bit support and
# no qemu-i386 binfmt entry), the run is skipped: the reason is printed and
# the exit status is 77, which the test declares as its skip code.
#
# The prefix is made afresh for every run, so nothing a previous run (or the
# user's own ~/.wine) left behind can change the result; it is removed
# afterwards. Mono and Gecko are disabled: a console program needs neither,
# and Wine would otherwise offer to install them.
set -u

arch=win64
if [ "${1:-}" = "--win32" ]; then
    arch=win32
    shift
fi
if [ $# -lt 2 ]; then
    echo "usage: $0 [--win32] WINE_LOADER PROGRAM [ARGUMENT...]" >&2
    exit 2
fi
wine=$1
shift

if [ "$arch" = win32 ]; then
    how="install wine32:i386 and wine32-preloader:i386 (or run ./test as root, which also sets up qemu-i386 where the kernel runs no 32-bit programs)"
    if [ ! -x "$wine" ]; then
        echo "SKIPPED: no 32-bit Wine loader at $wine; $how"
        exit 77
    fi
    if ! version=$("$wine" --version 2>&1); then
        echo "SKIPPED: this machine cannot run the 32-bit Wine loader $wine ($version); $how"
        exit 77
    fi
fi

prefix=$(mktemp -d "${TMPDIR:-/tmp}/velora-wine.XXXXXX") || exit 1

WINEPREFIX=$prefix
WINEARCH=$arch
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES

# Set the prefix up first: its chatter (a 64-bit-only Wine reports the
# missing 32-bit half) is shown only when the set-up fails. Under qemu, Wine's
# background processes may report a signal after the program has ended; only
# the program's own exit status counts.
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
