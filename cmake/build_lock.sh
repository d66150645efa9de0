# The build step of ./preview, ./test and studio/studio, safe to run twice
# at once (two terminals, an editor's task beside a shell). Sourced:
#
#   . cmake/build_lock.sh
#   velora_lock_build CALLER FOLDER   holds FOLDER.lock (beside the build
#                                     folder) until velora_unlock_build or
#                                     the end of the shell and whatever it
#                                     execs; a second caller waits, saying so
#   velora_unlock_build
#   velora_configured FOLDER          true when FOLDER is configured and
#                                     CMakePresets.json has not changed
#                                     since: building it then configures
#                                     again only if a CMakeLists.txt changed
#                                     (Ninja's own rule)
#
# The lock is flock(1)'s, on a file of its own: it goes with the process
# that holds it, however that ends.

velora_lock_build() {
    local caller=$1 folder=$2
    mkdir -p "$(dirname "$folder")"
    exec {velora_build_lock}>"$folder.lock"
    if ! flock -n "$velora_build_lock"; then
        echo "$caller: another build is using $folder; waiting for it to finish" >&2
        flock "$velora_build_lock"
    fi
}

velora_unlock_build() {
    if [ -n "${velora_build_lock:-}" ]; then
        exec {velora_build_lock}>&-
        unset velora_build_lock
    fi
}

velora_presets="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/CMakePresets.json"

velora_configured() {
    local folder=$1
    [ -f "$folder/build.ninja" ] && [ -f "$folder/CMakeCache.txt" ] &&
        ! [ "$velora_presets" -nt "$folder/CMakeCache.txt" ]
}
