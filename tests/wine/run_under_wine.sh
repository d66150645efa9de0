#!/bin/sh
# Runs one Windows program under Wine in a throw-away prefix. The result is
# the program's own: its exit status and, with --summary, its summary line.
#
# usage: run_under_wine.sh [--win32] [--timeout SECONDS] [--summary PATTERN]
#                          [--not-under-qemu REASON] WINE_LOADER PROGRAM [ARGUMENT...]
#
# --win32      the prefix is a 32-bit one and WINE_LOADER is 32-bit Wine's
#              loader (Debian: /usr/lib/wine/wine from wine32:i386). Where
#              that loader is missing, or this machine cannot run it (a kernel
#              without 32-bit support and no qemu-i386 binfmt entry), the run
#              is skipped: the reason is printed and the exit status is 77,
#              which the test declares as its skip code.
# --timeout    the whole run (prefix set-up and program) ends after this many
#              seconds at most, as a failure (default 600). Keep it below the
#              test's own timeout, so that this script, not the test driver,
#              ends the prefix's processes.
# --summary    an extended regular expression (grep -E) for the line that a
#              complete run prints; a run that ends with status 0 without it
#              fails.
# --not-under-qemu  where 32-bit programs run through qemu-i386 (its
#              binfmt_misc entry is enabled), the run is skipped with this
#              reason: for a program that qemu's emulation of Wine's signals
#              and threads cannot run faithfully.
#
# Exit status: 0 when the program ended with status 0 (and printed its
# summary line), 77 when skipped, otherwise 1 or the program's own non-zero
# status (never 77).
#
# The prefix is made afresh for every run, so nothing a previous run (or the
# user's own ~/.wine) left behind can change the result, and it has no
# automatic debugger: a process that crashes ends with its exception code
# instead of starting winedbg, which would keep the prefix alive (under
# qemu-i386 it never ends). The name winedbg.exe is disabled from the first
# process on, and the prefix's AeDebug key names no debugger (Auto 1, so that
# no "debug it?" dialog is asked either). Mono and Gecko are disabled: a
# console program needs neither, and Wine would otherwise offer to install
# them.
#
# After the program, the prefix's wineserver gets a few seconds to finish; then
# it and every process of the prefix are ended (wineserver -k, and any process
# still started with this WINEPREFIX is killed), and the prefix is removed.
# Nothing of the run is left running, whatever the program did.
set -u

me=run_under_wine.sh
arch=win64
limit=600
summary=
not_under_qemu=
usage() {
    echo "usage: $me [--win32] [--timeout SECONDS] [--summary PATTERN] [--not-under-qemu REASON] WINE_LOADER PROGRAM [ARGUMENT...]" >&2
    exit 2
}
while [ $# -gt 0 ]; do
    case $1 in
    --win32) arch=win32; shift ;;
    --timeout) [ $# -ge 2 ] || usage; limit=$2; shift 2 ;;
    --summary) [ $# -ge 2 ] || usage; summary=$2; shift 2 ;;
    --not-under-qemu) [ $# -ge 2 ] || usage; not_under_qemu=$2; shift 2 ;;
    *) break ;;
    esac
done
case $limit in
'' | *[!0-9]* | 0) echo "$me: --timeout takes a whole number of seconds above 0, not '$limit'" >&2; exit 2 ;;
esac
[ $# -ge 2 ] || usage
wine=$1
shift
program=$1

if [ "$arch" = win32 ]; then
    how="install wine32:i386 and wine32-preloader:i386 (or run ./test as root, which also sets up qemu-i386 where the kernel runs no 32-bit programs)"
    if [ ! -x "$wine" ]; then
        echo "SKIPPED: no 32-bit Wine loader at $wine; $how"
        exit 77
    fi
    if ! version=$(timeout 120 "$wine" --version 2>&1); then
        echo "SKIPPED: this machine cannot run the 32-bit Wine loader $wine ($version); $how"
        exit 77
    fi
fi
if [ -n "$not_under_qemu" ] && [ "$arch" = win32 ] &&
    grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null; then
    echo "SKIPPED: 32-bit programs run through qemu-i386 here; $not_under_qemu"
    exit 77
fi

# The prefix's wineserver: the one beside the loader, else the one on PATH.
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

work=$(mktemp -d "${TMPDIR:-/tmp}/velora-wine.XXXXXX") || exit 1
prefix=$work/prefix
output=$work/output
mkdir "$prefix" || exit 1

WINEPREFIX=$prefix
WINEARCH=$arch
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES

# Waits up to $1 seconds for "wineserver -w"; true when the prefix's
# wineserver ended within that time.
server_ends_within() {
    [ -n "$wineserver" ] || return 0
    timeout "$1" "$wineserver" -w >/dev/null 2>&1
}

# Kills every process that was started with this prefix and still runs (the
# last resort after wineserver -k: a process that lost its server).
kill_leftovers() {
    # grep itself must not carry WINEPREFIX, or it would find itself.
    leftovers=$(env -u WINEPREFIX grep -lzxF "WINEPREFIX=$prefix" /proc/[0-9]*/environ 2>/dev/null)
    for file in $leftovers; do
        pid=${file#/proc/}
        pid=${pid%/environ}
        [ "$pid" = "$$" ] && continue
        if kill -KILL "$pid" 2>/dev/null; then
            echo "$me: killed process $pid of the prefix, still running after its wineserver" >&2
        fi
    done
}

# Ends everything the run started. The prefix's wineserver gets $grace
# seconds to end by itself (RUN_UNDER_WINE_GRACE, default 5).
grace=${RUN_UNDER_WINE_GRACE:-5}
case $grace in '' | *[!0-9]* | 0) grace=5 ;; esac
end_prefix() {
    if ! server_ends_within "$grace"; then
        echo "$me: the prefix's wineserver still runs $grace s after the program; ending its processes (wineserver -k)" >&2
        "$wineserver" -k >/dev/null 2>&1
        server_ends_within "$grace" || echo "$me: the prefix's wineserver did not end after wineserver -k" >&2
    fi
    kill_leftovers
    # Debian's Wine keeps the server's socket and lock in a folder of its own
    # below TMPDIR (made for this prefix) and writes that folder's name into
    # the prefix.
    if [ -f "$prefix/wineserver" ]; then
        socket_dir=$(cat "$prefix/wineserver")
        case $socket_dir in
        wine-?*) [ -d "${TMPDIR:-/tmp}/$socket_dir" ] && rm -rf "${TMPDIR:-/tmp}/$socket_dir" ;;
        esac
    fi
}
trap 'end_prefix; rm -rf "$work"; exit 1' HUP INT TERM

started=$(date +%s)
remaining() {
    left=$((started + limit - $(date +%s)))
    [ "$left" -gt 0 ] || left=1
    echo "$left"
}

# Set the prefix up first: its chatter (a 64-bit-only Wine reports the
# missing 32-bit half) is shown only when the set-up fails.
cat >"$work/aedebug.reg" <<EOF
REGEDIT4

[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug]
"Auto"="1"
"Debugger"=""
EOF
if [ "$arch" = win64 ]; then
    cat >>"$work/aedebug.reg" <<EOF

[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug]
"Auto"="1"
"Debugger"=""
EOF
fi
# Whether the run's time limit has passed.
out_of_time() {
    [ $(($(date +%s) - started)) -ge "$limit" ]
}
# Sets the prefix up; true when it is ready. Under qemu-i386 wineboot now
# and then stops midway (its processes wait on each other and use no time,
# then fail to load kernel32), so each attempt gets at most $setup_limit
# seconds (RUN_UNDER_WINE_SETUP_LIMIT, default 120; a set-up takes about 20 s
# under qemu), and a prefix that was not ready by then is ended and made
# again, up to three times in all.
setup_limit=${RUN_UNDER_WINE_SETUP_LIMIT:-120}
case $setup_limit in '' | *[!0-9]* | 0) setup_limit=120 ;; esac
attempt_limit() {
    left=$(remaining)
    [ "$left" -lt "$setup_limit" ] || left=$setup_limit
    echo "$left"
}
set_up_prefix() {
    setup=
    timeout -k 5 "$(attempt_limit)" "$wine" wineboot --init >"$work/setup.log" 2>&1
    status=$?
    if [ "$status" -ne 0 ]; then
        setup="wineboot --init failed (status $status)"
        return 1
    fi
    timeout -k 5 "$(attempt_limit)" "$wine" reg import "Z:$work/aedebug.reg" >>"$work/setup.log" 2>&1
    status=$?
    [ "$status" -eq 0 ] && return 0
    setup="could not clear the prefix's automatic debugger (reg import, status $status)"
    return 1
}
attempt=1
while ! set_up_prefix; do
    if [ "$attempt" -ge 3 ] || out_of_time; then
        break
    fi
    echo "$me: $setup; making the prefix again (attempt $((attempt + 1)) of 3)" >&2
    end_prefix
    rm -rf "$prefix" && mkdir "$prefix" || break
    attempt=$((attempt + 1))
done
if [ -n "$setup" ] && out_of_time; then
    setup="$setup: the prefix was not set up within $limit s"
fi
if [ -n "$setup" ]; then
    cat "$work/setup.log" >&2
    echo "$me: $setup" >&2
    end_prefix
    rm -rf "$work"
    exit 1
fi

# The program, its output shown as it comes and kept for the checks below.
# Output goes to a file, not a pipe: the prefix's background processes may
# inherit it and outlive the program.
: >"$output"
timeout -k 5 "$(remaining)" "$wine" "$@" >"$output" 2>&1 &
run=$!
tail -n +1 -f --pid="$run" "$output" 2>/dev/null &
shower=$!
wait "$run"
status=$?
wait "$shower"
end_prefix
trap - HUP INT TERM

# What Wine prints when a process crashes ("wine: Unhandled page fault on
# write access to 00000000 at address 0040160E (thread 0024), starting
# debugger..."), and what qemu-i386 prints for a process a signal ends.
crashes=$(grep -E 'Unhandled (exception|page fault|division by zero|overflow|array bounds|illegal instruction|stack overflow|privileged instruction|alignment|\^C)|uncaught target signal' "$output" 2>/dev/null)
summarised=1
if [ -n "$summary" ] && ! grep -Eq -- "$summary" "$output" 2>/dev/null; then
    summarised=
fi
rm -rf "$work"

# The exception code and address of one crash line, as "exception 0x... at
# address ...". Wine names the common codes in words rather than numbers.
describe_crash() {
    code=$(printf '%s\n' "$1" | sed -n 's/.*Unhandled exception \(0x[0-9a-fA-F]*\).*/\1/p')
    if [ -z "$code" ]; then
        case $1 in
        *"Unhandled page fault"*) code=0xc0000005 ;;
        *"Unhandled division by zero"*) code=0xc0000094 ;;
        *"Unhandled stack overflow"*) code=0xc00000fd ;;
        *"Unhandled illegal instruction"*) code=0xc000001d ;;
        *"Unhandled privileged instruction"*) code=0xc0000096 ;;
        *"Unhandled overflow"*) code=0xc0000095 ;;
        *"Unhandled array bounds"*) code=0xc000008c ;;
        *"Unhandled alignment"*) code=0x80000002 ;;
        *"Unhandled ^C"*) code=0xc000013a ;;
        esac
    fi
    address=$(printf '%s\n' "$1" | sed -n 's/.* at address \(0x\)\{0,1\}\([0-9a-fA-F]*\).*/\2/p')
    description=
    [ -n "$code" ] && description="exception $code"
    [ -n "$address" ] && description="$description at address $address"
    echo "${description:-$1}"
}

if [ "$status" -eq 124 ] && out_of_time; then
    echo "$me: $program did not end within $limit s; it and the prefix were ended" >&2
    exit 1
fi
if [ "$status" -ne 0 ]; then
    # Wine ends a crashed process with its exception code, of which the exit
    # status keeps the low byte: the crash line whose code ends in that byte
    # is the program's own.
    own=
    if [ -n "$crashes" ]; then
        while IFS= read -r line; do
            code=$(describe_crash "$line" | sed -n 's/^exception 0x[0-9a-fA-F]*\([0-9a-fA-F][0-9a-fA-F]\)\b.*/\1/p')
            if [ -n "$code" ] && [ $((0x$code)) -eq "$status" ]; then
                own=$line
            fi
        done <<EOF
$crashes
EOF
    fi
    if [ -n "$own" ]; then
        echo "$me: $program crashed: $(describe_crash "$own") (exit status $status)" >&2
    elif [ -n "$crashes" ]; then
        echo "$me: $program exited with status $status; crashes in the prefix:" >&2
        printf '%s\n' "$crashes" | while IFS= read -r line; do
            echo "$me:   $(describe_crash "$line"): $line" >&2
        done
    elif [ "$status" -gt 128 ] && [ "$status" -le 192 ]; then
        echo "$me: $program was ended by signal $((status - 128))" >&2
    else
        echo "$me: $program exited with status $status" >&2
    fi
    # 77 would read as "skipped".
    [ "$status" -eq 77 ] && exit 1
    exit "$status"
fi
if [ -z "$summarised" ]; then
    echo "$me: $program exited with status 0 but printed no line matching '$summary'" >&2
    exit 1
fi
if [ -n "$crashes" ]; then
    # The program ended well; a background process of the prefix did not.
    printf '%s\n' "$crashes" | while IFS= read -r line; do
        echo "$me: note: a process of the prefix crashed after or beside the program ($(describe_crash "$line")); the program itself passed"
    done
fi
exit 0
