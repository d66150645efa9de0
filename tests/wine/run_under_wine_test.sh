#!/bin/sh
# Tests of run_under_wine.sh with stand-ins for Wine's loader and wineserver
# (standins/): each case must end within seconds with the right result and
# leave nothing running and no prefix behind.
#
# usage: run_under_wine_test.sh CASE
set -u
here=$(cd "$(dirname "$0")" && pwd)
case=${1:-}

options=
expect_status=0
expect=
case $case in
passes)
    behaviour=pass expect='3 passed, 0 failed' ;;
fails_with_the_programs_status)
    behaviour=fail expect_status=1 expect='exited with status 1' ;;
crash_fails_naming_the_exception_code_and_address)
    behaviour=crash expect_status=5 expect='crashed: exception 0xc0000005 at address 0040160E' ;;
processes_left_holding_the_wineserver_are_ended)
    behaviour=linger expect='ending its processes \(wineserver -k\)' ;;
background_crash_after_the_summary_is_reported_not_failed)
    behaviour=background-crash options='--summary [0-9]+ passed, 0 failed'
    expect='note: a process of the prefix crashed .*exception 0x80000003 at address 7BC56490' ;;
status_0_without_the_summary_fails)
    behaviour=quiet options='--summary [0-9]+ passed, 0 failed' expect_status=1 expect='printed no line matching' ;;
status_77_is_not_a_skip)
    behaviour=exit77 expect_status=1 expect='exited with status 77' ;;
a_program_that_never_ends_is_ended_at_the_timeout)
    behaviour=hang options='--timeout 3' expect_status=1 expect='did not end within 3 s' ;;
a_set_up_that_stalls_is_made_again)
    behaviour=pass expect='making the prefix again \(attempt 2 of 3\)'
    STANDIN_WINEBOOT_STALLS=1 RUN_UNDER_WINE_SETUP_LIMIT=2
    export STANDIN_WINEBOOT_STALLS RUN_UNDER_WINE_SETUP_LIMIT ;;
*)
    echo "usage: $0 CASE (see the file for the cases)" >&2
    exit 2 ;;
esac

TMPDIR=$(mktemp -d "${TMPDIR:-/tmp}/run_under_wine_test.XXXXXX") || exit 1
export TMPDIR
STANDIN_PIDS=$TMPDIR/pids
export STANDIN_PIDS
: >"$STANDIN_PIDS"

failed=
fail() {
    echo "FAILED: $1"
    failed=1
}

# One option of run_under_wine.sh: its first word, then its value.
if [ -n "$options" ]; then
    set -- "${options%% *}" "${options#* }"
else
    set --
fi
timeout -k 5 40 sh "$here/run_under_wine.sh" "$@" "$here/standins/wine" "$here/standins/program" \
    "$behaviour" >"$TMPDIR/output" 2>&1
status=$?
cat "$TMPDIR/output"

if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    fail "run_under_wine.sh did not end within 40 s"
elif [ "$status" -ne "$expect_status" ]; then
    fail "exit status $status, expected $expect_status"
fi
if [ -n "$expect" ] && ! grep -Eq -- "$expect" "$TMPDIR/output"; then
    fail "no line matching '$expect' in the output"
fi
# An ended process that its parent has not reaped yet (a zombie) counts as ended.
alive() {
    state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "${state%% *}" != Z ]
}
for pid in $(cat "$STANDIN_PIDS"); do
    if alive "$pid"; then
        fail "process $pid of the run still runs"
        kill -KILL "$pid" 2>/dev/null
    fi
done
leftover=$(find "$TMPDIR" -mindepth 1 -maxdepth 1 ! -name pids ! -name output)
[ -z "$leftover" ] || fail "left behind: $leftover"
rm -rf "$TMPDIR"
[ -z "$failed" ]
