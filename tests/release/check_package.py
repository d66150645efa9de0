#!/usr/bin/env python3
"""Checks the release zip as a user receives it, and unpacks it for the tests
that load the shipped DLL.

usage: check_package.py ZIP FOLDER DESTINATION MAX_DLL_BYTES

The zip must hold exactly FOLDER/ with the DLL, its debug file, the guide, its
picture and SHA256SUMS, in that order, each with the fixed time and
permissions; every sum must match; the DLL must be at most MAX_DLL_BYTES.
DESTINATION is emptied and receives FOLDER/. Exit status 1 names what is
wrong.
"""
import hashlib
import os
import shutil
import sys
import zipfile

EXPECTED = ["DrawVelora.dll", "DrawVelora.dll.debug", "GUIDE.md", "modes.png", "SHA256SUMS"]


def fail(message):
    print(f"FAILED {message}")
    sys.exit(1)


def main(zip_path, folder, destination, max_dll_bytes):
    try:
        archive = zipfile.ZipFile(zip_path)
    except (OSError, zipfile.BadZipFile) as error:
        fail(f"cannot open {zip_path}: {error}")
    with archive:
        infos = archive.infolist()
        names = [info.filename for info in infos]
        expected = [f"{folder}/{name}" for name in EXPECTED]
        if names != expected:
            fail(f"entries {names}, expected {expected}")
        for info in infos:
            if info.date_time != (1980, 1, 1, 0, 0, 0) and "SOURCE_DATE_EPOCH" not in os.environ:
                fail(f"{info.filename}: time {info.date_time}, not the fixed one")
            if info.external_attr >> 16 != 0o100644 or info.extra:
                fail(f"{info.filename}: mode {oct(info.external_attr >> 16)}, extra "
                     f"{info.extra!r}: not the fixed rw-r--r-- without extra fields")
        contents = {name: archive.read(f"{folder}/{name}") for name in EXPECTED}

    lines = contents["SHA256SUMS"].decode("ascii").splitlines()
    listed = {}
    for line in lines:
        digest, _, name = line.partition("  ")
        listed[name] = digest
    if sorted(listed) != sorted(EXPECTED[:-1]):
        fail(f"SHA256SUMS lists {sorted(listed)}")
    for name, digest in listed.items():
        if hashlib.sha256(contents[name]).hexdigest() != digest:
            fail(f"SHA256SUMS: {name} does not match")
    size = len(contents["DrawVelora.dll"])
    if size > max_dll_bytes:
        fail(f"DrawVelora.dll is {size} bytes, above {max_dll_bytes}")

    shutil.rmtree(destination, ignore_errors=True)
    os.makedirs(os.path.join(destination, folder))
    for name in EXPECTED:
        with open(os.path.join(destination, folder, name), "wb") as out:
            out.write(contents[name])
    print(f"ok     {zip_path}: {len(EXPECTED)} files, sums match, DrawVelora.dll {size} bytes")
    print(f"       unpacked into {os.path.join(destination, folder)}")


if __name__ == "__main__":
    if len(sys.argv) != 5:
        print(__doc__.strip().splitlines()[3], file=sys.stderr)
        sys.exit(2)
    main(sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]))
