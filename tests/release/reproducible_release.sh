#!/bin/sh
# Builds the release zip once more from a copy of the sources in another
# folder (another path, another length) and compares it with the one given,
# byte for byte: the DLL, its debug file, the studio file (Emscripten's output
# and esbuild's bundle), the guides and the zip must not depend on where or
# when they were built.
#
# usage: reproducible_release.sh SOURCE_DIR REFERENCE_ZIP
# Needs what the release needs (CMake, Ninja, the i686 MinGW-w64 compilers,
# Emscripten, Node.js and npm, python3-markdown); cleans up after itself.
set -eu
if [ $# -ne 2 ]; then
    echo "usage: $0 SOURCE_DIR REFERENCE_ZIP" >&2
    exit 2
fi
source_dir=$1
reference=$2
if [ ! -f "$reference" ]; then
    echo "FAILED no reference zip at $reference" >&2
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/velora-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
copy="$work/another checkout of DrawVelora"
mkdir -p "$copy/docs"
# What the DLL, the studio file and the zip are made of (with the folders the
# top level adds), without a developer's node_modules.
for item in CMakeLists.txt cmake dll script hosts tools studio; do
    cp -R "$source_dir/$item" "$copy/"
done
rm -rf "$copy/studio/node_modules"
cp "$source_dir"/docs/GUIDE*.md "$source_dir/docs/modes.png" "$copy/docs/"

cmake -S "$copy" -B "$copy/out" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$copy/cmake/toolchains/i686-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DVELORA_BUILD_TESTS=OFF >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log"; echo "FAILED configuring the copy"; exit 1; }
cmake --build "$copy/out" --target velora_release -j 2 >"$work/build.log" 2>&1 ||
    { cat "$work/build.log"; echo "FAILED building the copy"; exit 1; }

rebuilt=$(ls "$copy/out/dist/"*-win32.zip)
sha256sum "$reference" "$rebuilt"
if cmp "$reference" "$rebuilt"; then
    echo "ok     the zip built in another folder is the same, byte for byte"
    exit 0
fi
# Name the entries that differ.
python3 - "$reference" "$rebuilt" <<'PY'
import sys, zipfile
a, b = (zipfile.ZipFile(p) for p in sys.argv[1:3])
for name in sorted(set(a.namelist()) | set(b.namelist())):
    try:
        same = a.read(name) == b.read(name)
    except KeyError:
        same = False
    if not same:
        print(f"differs: {name}")
PY
echo "FAILED the zip built in another folder differs"
exit 1
