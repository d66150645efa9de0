#!/usr/bin/env python3
"""Runs the browser tests of the single studio file, as the release zip holds
it, opened from disk in Debian's Chromium and Firefox ESR.

Installs the tests' npm packages with `npm ci` into a work folder
(playwright-core and puppeteer-core drive the Debian browsers; no browser is
downloaded), writes a sprite sheet PNG into a temporary folder, listens on a
socket of 127.0.0.1 that the browsers take as their proxy (any connection to
it is something the page loaded from the network: it fails the run), and runs
studio_file.test.mjs in a process group of its own; every process left below
this one afterwards, a browser included, is ended (run_ended). The temporary
folder (browser profiles, downloads, the sheet, TMPDIR of the run) is
removed. The exit status is the test script's, or 1
when anything connected to the proxy socket.
"""

import argparse
import os
import shutil
import socket
import struct
import sys
import tempfile
import threading
import zlib

from run_browser_tests import npm_ci, run_ended


def write_sheet(path):
    """A 72 x 24 sprite sheet: three opaque 24 px cells, red, green, blue."""
    cells = [(255, 0, 0, 255), (0, 255, 0, 255), (0, 0, 255, 255)]
    row = b"\0" + b"".join(bytes(colour) * 24 for colour in cells)  # filter byte 0, then RGBA
    pixels = zlib.compress(row * 24)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", 72, 24, 8, 6, 0, 0, 0)  # 8-bit RGBA
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", pixels) + chunk(b"IEND", b""))


class Trap:
    """A socket that records the first line of whatever connects to it, in a
    log the test reads, and closes the connection."""

    def __init__(self, log):
        self.log = log
        self.hits = []
        self.socket = socket.socket()
        self.socket.bind(("127.0.0.1", 0))
        self.socket.listen(16)
        self.port = self.socket.getsockname()[1]
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        while True:
            try:
                connection, _ = self.socket.accept()
            except OSError:
                return  # closed
            with connection:
                connection.settimeout(2)
                try:
                    line = connection.recv(512).split(b"\r\n")[0].decode("latin-1")
                except OSError:
                    line = "(nothing sent)"
            self.hits.append(line)
            with open(self.log, "a", encoding="utf-8") as log:
                log.write(line + "\n")

    def close(self):
        self.socket.close()
        self.thread.join(timeout=5)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--file", required=True, help="DrawVelora-studio.html, unpacked from the release zip")
    parser.add_argument("--web", required=True, help="the studio/ source folder (package.json)")
    parser.add_argument("--work", required=True, help="a folder for node_modules")
    parser.add_argument("--node", default="node")
    parser.add_argument("--npm", default="npm")
    parser.add_argument("--chromium", default="/usr/bin/chromium")
    parser.add_argument("--firefox", default="/usr/bin/firefox-esr")
    parser.add_argument("--timeout", type=float, default=900, help="seconds the tests may take in all")
    args = parser.parse_args()

    if not os.path.isfile(args.file):
        print(f"no studio file at {args.file}: the release zip was not unpacked", file=sys.stderr)
        return 1
    for name, path in (("Chromium (Debian package chromium)", args.chromium),
                       ("Firefox ESR (Debian package firefox-esr)", args.firefox)):
        if not os.access(path, os.X_OK):
            print(f"no {name} at {path}", file=sys.stderr)
            return 1
    status = npm_ci(args.npm, args.web, args.work)
    if status != 0:
        return status

    temp = tempfile.mkdtemp(prefix="velora-studio-file-")
    trap = None
    try:
        sheet = os.path.join(temp, "sheet.png")
        write_sheet(sheet)
        trap = Trap(os.path.join(temp, "proxy.log"))
        env = dict(os.environ, STUDIO_FILE=os.path.abspath(args.file), STUDIO_WORK=os.path.abspath(args.work),
                   STUDIO_TEMP=temp, TMPDIR=temp, SHEET=sheet, CHROMIUM=args.chromium, FIREFOX=args.firefox,
                   TRAP_PORT=str(trap.port), TRAP_LOG=trap.log, PUPPETEER_SKIP_DOWNLOAD="1")
        test = os.path.join(os.path.dirname(os.path.abspath(__file__)), "studio_file.test.mjs")
        status = run_ended([args.node, "--test", test], env, timeout=args.timeout)
        trap.close()
        if trap.hits:
            print("FAILED the browsers connected to the proxy socket (the network):", file=sys.stderr)
            for line in trap.hits:
                print(f"    {line}", file=sys.stderr)
            status = status or 1
        return status
    finally:
        if trap is not None:
            trap.close()
        shutil.rmtree(temp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
