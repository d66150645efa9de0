# The Debian packages a command needs, installed when missing. Sourced by
# ./preview, ./test and studio/studio:
#
#   . cmake/packages.sh
#   velora_require_packages CALLER PACKAGE...
#
# A PACKAGE is a Debian package name (name:i386 for one from the i386 half of
# the archive), or COMMAND=PACKAGE for a package needed only where COMMAND is
# not on the PATH (a machine may have it from elsewhere). When something is
# missing: as root it is installed (adding the i386 architecture first where
# needed); otherwise CALLER says what is missing and how to install it, and
# the shell exits with status 1. Without dpkg (not a Debian machine) nothing
# is checked: the build says what it cannot find. While another package
# manager holds apt's lock (an unattended upgrade, another apt-get), the
# install waits for it, saying so, for up to VELORA_APT_WAIT seconds (600).

velora_require_packages() {
    local caller=$1 wanted package missing=()
    shift
    command -v dpkg-query >/dev/null 2>&1 || return 0
    for wanted in "$@"; do
        package=$wanted
        if [[ $wanted == *=* ]]; then
            command -v "${wanted%%=*}" >/dev/null 2>&1 && continue
            package=${wanted#*=}
        fi
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "$caller: these Debian packages are missing: ${missing[*]}" >&2
        echo "$caller: install them with" >&2
        case " ${missing[*]}" in
            *:i386*) echo "    sudo dpkg --add-architecture i386 &&" >&2 ;;
        esac
        echo "    sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
        echo "$caller: or run it as root, which installs them itself" >&2
        exit 1
    fi
    echo "$caller: installing ${missing[*]}" >&2
    case " ${missing[*]}" in
        *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386 ;;
    esac
    velora_apt_get "$caller" update
    velora_apt_get "$caller" install -y "${missing[@]}"
}

# apt-get ARGUMENTS, run again every few seconds while another package
# manager holds the lock; any other failure, or a lock held too long, ends
# the shell with status 1 and a line of CALLER's own after apt's words.
velora_apt_get() {
    local caller=$1 errors status waited=0 most=${VELORA_APT_WAIT:-600} pause=${VELORA_APT_PAUSE:-5}
    shift
    errors=$(mktemp)
    while :; do
        status=0
        DEBIAN_FRONTEND=noninteractive apt-get "$@" 2>"$errors" || status=$?
        if [ "$status" -eq 0 ]; then
            cat "$errors" >&2
            rm -f "$errors"
            return 0
        fi
        if ! grep -q -e "Could not get lock" -e "Unable to acquire the dpkg frontend lock" \
            -e "Unable to lock" "$errors"; then
            cat "$errors" >&2
            rm -f "$errors"
            echo "$caller: apt-get $1 failed (status $status), so the packages it needs are not installed;" \
                "see apt's words above" >&2
            exit 1
        fi
        if [ "$waited" -ge "$most" ]; then
            cat "$errors" >&2
            rm -f "$errors"
            echo "$caller: another package manager has held apt's lock for $waited s; let it finish" \
                "(or end it), then run this again" >&2
            exit 1
        fi
        [ "$waited" -eq 0 ] && echo "$caller: another package manager holds apt's lock; waiting for it" \
            "(up to $most s)" >&2
        sleep "$pause"
        waited=$((waited + pause))
    done
}
