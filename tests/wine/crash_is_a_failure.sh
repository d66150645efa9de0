#!/bin/sh
# Runs the crash probe under Wine through run_under_wine.sh: the run must fail
# naming the exception code and address, and no debugger may have run
# (winedbg prints a register dump).
#
# usage: crash_is_a_failure.sh [--win32] WINE_LOADER crash_probe.exe
set -u
here=$(cd "$(dirname "$0")" && pwd)
output=$(sh "$here/run_under_wine.sh" --timeout 240 "$@" 2>&1)
status=$?
printf '%s\n' "$output"
[ "$status" -eq 77 ] && exit 77
failed=
if [ "$status" -eq 0 ]; then
    echo "FAILED: the crash probe's run passed"
    failed=1
fi
# Natively Wine reports the access violation (0xc0000005); under qemu-i386 the
# same fault reaches Wine as an illegal instruction (0xc000001d).
if ! printf '%s\n' "$output" | grep -Eq 'crashed: exception 0x(c0000005|c000001d) at address [0-9A-Fa-f]+'; then
    echo "FAILED: the crash is not reported with its exception code and address"
    failed=1
fi
if printf '%s\n' "$output" | grep -q 'Register dump'; then
    echo "FAILED: a debugger ran for the crash"
    failed=1
fi
[ -z "$failed" ]
