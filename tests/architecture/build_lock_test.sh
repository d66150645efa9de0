#!/usr/bin/env bash
# ./preview's build step run twice at once, over a stand-in cmake that fails
# when two builds overlap in one folder:
#   build_lock_test.sh <checkout>
# Prints FAILED and exits 1 on the first case that goes wrong.
set -u
checkout=$1
here="$(cd "$(dirname "$0")" && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; cat "$work"/out.* "$work"/err.* 2>/dev/null; exit 1; }

# A checkout with ./preview and what it sources; every package installed.
mkdir -p "$work/checkout/cmake"
cp "$checkout/preview" "$checkout/CMakePresets.json" "$work/checkout/"
cp "$checkout/cmake/packages.sh" "$checkout/cmake/build_lock.sh" "$work/checkout/cmake/"
export PATH="$here/build_standins:$here/packages_standins:$PATH" STANDIN_UID=1000 STANDIN_LOG="$work/log"
export STANDIN_INSTALLED="cmake ninja-build g++ libpixman-1-dev libpng-dev libwebp-dev"
preview() { "$work/checkout/preview" "$@"; }

# Two at once after a change (each must build): both succeed, ten times in ten.
for try in 1 2 3 4 5 6 7 8 9 10; do
    rm -f "$work/checkout/build/preview/velora_previewer"
    preview --numof 1 >"$work/out.1" 2>"$work/err.1" & first=$!
    preview --numof 2 >"$work/out.2" 2>"$work/err.2" & second=$!
    wait "$first" || fail "try $try: the first of two runs at once failed"
    wait "$second" || fail "try $try: the second of two runs at once failed"
    grep -q "rendered --numof 1" "$work/out.1" && grep -q "rendered --numof 2" "$work/out.2" ||
        fail "try $try: each run must render after the build"
done
cat "$work"/err.* | grep -q "another build is using .*build/preview; waiting for it to finish" ||
    fail "a run that waits must say so"

# Built and configured: no configure again; --help answers without building.
: >"$STANDIN_LOG"
preview >/dev/null 2>&1 || fail "a run of a built checkout failed"
[ "$(cat "$STANDIN_LOG")" = "build" ] || fail "a configured folder must not be configured again"
: >"$STANDIN_LOG"
[ "$(preview --help 2>/dev/null)" = "rendered --help" ] && [ ! -s "$STANDIN_LOG" ] ||
    fail "--help must answer from the built previewer without building"
echo "ok: build lock"
