#!/usr/bin/env bash
# cmake/packages.sh with stand-ins for dpkg-query, dpkg, apt-get and id:
#   packages_test.sh <checkout>
# Prints FAILED and exits 1 on the first case that goes wrong.
set -u
checkout=$1
standins="$(cd "$(dirname "$0")/packages_standins" && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export STANDIN_LOG="$work/log"

# run UID INSTALLED PACKAGE...: status, standard error and the install log
run() {
    export STANDIN_UID=$1 STANDIN_INSTALLED=$2
    shift 2
    : >"$STANDIN_LOG"
    (PATH="$standins:$PATH"; . "$checkout/cmake/packages.sh"; velora_require_packages probe "$@"; echo "returned") \
        >"$work/out" 2>"$work/err"
    status=$?
}
fail() { echo "FAILED: $*"; cat "$work/out" "$work/err" "$STANDIN_LOG"; exit 1; }

run 1000 "cmake g++" cmake g++ sh=never-needed
[ "$status" -eq 0 ] && grep -q returned "$work/out" && [ ! -s "$work/err" ] ||
    fail "everything installed (or its command present) must pass quietly"

run 1000 "cmake" cmake g++ wine32:i386 no-such-command-here=nodejs
[ "$status" -eq 1 ] && ! grep -q returned "$work/out" || fail "a missing package must stop the caller"
grep -q "probe: these Debian packages are missing: g++ wine32:i386 nodejs$" "$work/err" ||
    fail "the missing packages must be named, in order"
grep -q "sudo dpkg --add-architecture i386" "$work/err" || fail "an i386 package needs the architecture"
[ ! -s "$STANDIN_LOG" ] || fail "nothing may be installed without root"

run 0 "cmake" cmake g++ wine32:i386
[ "$status" -eq 0 ] || fail "as root the missing packages are installed"
grep -q "^dpkg --add-architecture i386$" "$STANDIN_LOG" &&
    grep -q "^apt-get install -y g++ wine32:i386$" "$STANDIN_LOG" ||
    fail "as root: the i386 architecture, then exactly the missing packages"
# A busy package manager is waited for, saying so; one busy for too long, or
# any other failure of apt, ends with a line of the caller's own.
export STANDIN_LOCKED="$work/locked" VELORA_APT_PAUSE=0
echo 2 >"$STANDIN_LOCKED"
run 0 "cmake" cmake g++
[ "$status" -eq 0 ] && grep -q "^apt-get install -y g++$" "$STANDIN_LOG" || fail "the lock must be waited for"
grep -q "^probe: another package manager holds apt's lock; waiting for it" "$work/err" || fail "the wait must be said"
echo 99 >"$STANDIN_LOCKED"
VELORA_APT_WAIT=0 run 0 "cmake" cmake g++
[ "$status" -eq 1 ] && ! grep -q returned "$work/out" && grep -q "held by process 3141" "$work/err" &&
    grep -q "^probe: another package manager has held apt's lock for 0 s; let it finish" "$work/err" ||
    fail "a lock held too long must be named in the caller's words"
echo 0 >"$STANDIN_LOCKED"
STANDIN_BROKEN=1 run 0 "cmake" cmake g++
[ "$status" -eq 1 ] && grep -q "^probe: apt-get update failed (status 100)" "$work/err" ||
    fail "another failure of apt must be named in the caller's words"
echo "ok: packages.sh"
