#!/usr/bin/env python3
"""Checks the release zip as a user receives it, and unpacks it for the tests
that load the shipped DLL and open the shipped studio file.

usage: check_package.py ZIP FOLDER DESTINATION MAX_DLL_BYTES
           [--guides GUIDE.html,GUIDE.ja.html] [--forbid TEXT ...]

The zip must hold exactly FOLDER/ with the DLL, its debug file, the studio
file, the guides (GUIDE.html and its translations, in that order), the modes
picture and SHA256SUMS, in that order, all with ASCII names, each with the
fixed time and permissions; every sum must match; the DLL must be at most
MAX_DLL_BYTES. The studio file must carry its scripts inside it, each guide
its language and charset; no HTML file may hold a --forbid text (the
checkout's and the build's folders: the package must not depend on where it
was built). DESTINATION is emptied and receives FOLDER/. Exit status 1 names
what is wrong.
"""
import argparse
import hashlib
import os
import re
import shutil
import sys
import zipfile

STUDIO = "DrawVelora-studio.html"


def fail(message):
    print(f"FAILED {message}")
    sys.exit(1)


def check_html(name, data, forbidden):
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as error:
        fail(f"{name} is not UTF-8 (byte {error.start})")
    if '<meta charset="utf-8">' not in text:
        fail(f"{name} does not say it is UTF-8")
    for folder in forbidden:
        if folder in text:
            fail(f"{name} names the folder {folder} it was built in")
    if name == STUDIO:
        for element in ('<script id="velora-studio-module">', '<script id="velora-effect">'):
            if element not in text:
                fail(f"{name} does not carry {element}")
    else:
        parts = name.split(".")
        lang = parts[-2] if len(parts) > 2 else "en"
        if not re.search(f'<html lang="{lang}">', text):
            fail(f"{name} is not marked as language {lang}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.strip().splitlines()[0])
    parser.add_argument("zip")
    parser.add_argument("folder")
    parser.add_argument("destination")
    parser.add_argument("max_dll_bytes", type=int)
    parser.add_argument("--guides", default="GUIDE.html", help="the guides' names, comma-separated")
    parser.add_argument("--forbid", action="append", default=[], help="a text no HTML file may hold")
    args = parser.parse_args()
    folder = args.folder
    expected = ["DrawVelora.dll", "DrawVelora.dll.debug", STUDIO, *args.guides.split(","), "modes.png", "SHA256SUMS"]

    try:
        archive = zipfile.ZipFile(args.zip)
    except (OSError, zipfile.BadZipFile) as error:
        fail(f"cannot open {args.zip}: {error}")
    with archive:
        infos = archive.infolist()
        names = [info.filename for info in infos]
        wanted = [f"{folder}/{name}" for name in expected]
        if names != wanted:
            fail(f"entries {names}, expected {wanted}")
        for info in infos:
            if not info.filename.isascii():
                fail(f"{info.filename!r} is not an ASCII name")
            if info.date_time != (1980, 1, 1, 0, 0, 0) and "SOURCE_DATE_EPOCH" not in os.environ:
                fail(f"{info.filename}: time {info.date_time}, not the fixed one")
            if info.external_attr >> 16 != 0o100644 or info.extra:
                fail(f"{info.filename}: mode {oct(info.external_attr >> 16)}, extra "
                     f"{info.extra!r}: not the fixed rw-r--r-- without extra fields")
        contents = {name: archive.read(f"{folder}/{name}") for name in expected}

    lines = contents["SHA256SUMS"].decode("ascii").splitlines()
    listed = {}
    for line in lines:
        digest, _, name = line.partition("  ")
        listed[name] = digest
    if sorted(listed) != sorted(expected[:-1]):
        fail(f"SHA256SUMS lists {sorted(listed)}")
    for name, digest in listed.items():
        if hashlib.sha256(contents[name]).hexdigest() != digest:
            fail(f"SHA256SUMS: {name} does not match")
    size = len(contents["DrawVelora.dll"])
    if size > args.max_dll_bytes:
        fail(f"DrawVelora.dll is {size} bytes, above {args.max_dll_bytes}")
    for name in expected:
        if name.endswith(".html"):
            check_html(name, contents[name], args.forbid)

    shutil.rmtree(args.destination, ignore_errors=True)
    os.makedirs(os.path.join(args.destination, folder))
    for name in expected:
        with open(os.path.join(args.destination, folder, name), "wb") as out:
            out.write(contents[name])
    zip_size = os.path.getsize(args.zip)
    print(f"ok     {args.zip} ({zip_size} bytes): {len(expected)} files, sums match, DrawVelora.dll {size} bytes, "
          f"{STUDIO} {len(contents[STUDIO])} bytes")
    print(f"       unpacked into {os.path.join(args.destination, folder)}")


if __name__ == "__main__":
    main()
