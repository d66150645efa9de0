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
# is checked: the build says what it cannot find.

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
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
}
