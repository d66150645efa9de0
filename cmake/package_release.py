#!/usr/bin/env python3
"""Makes the release zip of the Windows plug-in, the same bytes every time.

usage: package_release.py OUTPUT.zip FOLDER NAME=PATH [NAME=PATH ...]

Every NAME=PATH is stored as FOLDER/NAME (ASCII names only), in the order
given, followed by FOLDER/SHA256SUMS (the SHA-256 of each, in `sha256sum -c`
form). Entries carry a fixed time (SOURCE_DATE_EPOCH where set, else
1980-01-01 00:00), fixed permissions (rw-r--r--) and no owner, so the zip
depends on the files' contents only. It is written beside OUTPUT and renamed when complete; on any
failure OUTPUT is left as it was, the reason is printed and the exit status
is 1.
"""
import hashlib
import io
import os
import sys
import time
import zipfile

from build_files import Refused, write_beside

FIXED_TIME = (1980, 1, 1, 0, 0, 0)  # the earliest a zip can hold


def entry_time():
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if not epoch:
        return FIXED_TIME
    try:
        stamp = time.gmtime(int(epoch))
    except (ValueError, OverflowError, OSError):
        raise SystemExit(f"package_release: SOURCE_DATE_EPOCH={epoch!r} is not a time in seconds")
    return max(FIXED_TIME, tuple(stamp[:6]))


def add(archive, name, data, when):
    info = zipfile.ZipInfo(name, date_time=when)
    info.create_system = 3  # Unix, so that the permissions below are read
    info.external_attr = 0o100644 << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    archive.writestr(info, data, compresslevel=9)


def main(argv):
    if len(argv) < 4:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    output, folder, pairs = argv[1], argv[2], argv[3:]
    files = []
    for pair in pairs:
        name, sep, path = pair.partition("=")
        if not sep or not name or not path:
            print(f"package_release: {pair!r} is not NAME=PATH", file=sys.stderr)
            return 2
        # Explorer shows a zip's names in the system's code page when they
        # are not marked UTF-8: only ASCII reads the same everywhere.
        if not (name + folder).isascii():
            print(f"package_release: {folder}/{name} is not an ASCII name", file=sys.stderr)
            return 2
        try:
            with open(path, "rb") as source:
                files.append((name, source.read()))
        except OSError as error:
            print(f"package_release: cannot read {path}: {error.strerror}", file=sys.stderr)
            return 1
    sums = "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n" for name, data in files)
    files.append(("SHA256SUMS", sums.encode("ascii")))

    when = entry_time()
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        for name, data in files:
            add(archive, f"{folder}/{name}", data, when)
    try:
        write_beside(output, buffer.getvalue())
    except Refused as error:
        print(f"package_release: {error}", file=sys.stderr)
        return 1
    print(f"{hashlib.sha256(buffer.getvalue()).hexdigest()}  {output}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
