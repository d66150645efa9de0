#!/usr/bin/env python3
"""Runs the studio's browser tests against the built page.

Serves the built studio folder on a free port of 127.0.0.1 (a server thread
of this process), installs the tests' npm packages with `npm ci` into a work
folder (of them these tests use playwright-core, which drives Debian's
Chromium and never downloads a browser), runs the Node test script against
the page, and stops the server. The exit status is the test script's.
"""

import argparse
import functools
import http.server
import os
import shutil
import signal
import subprocess
import sys
import threading
import time


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    """Serves files without logging every request to the test output."""

    extensions_map = {
        **http.server.SimpleHTTPRequestHandler.extensions_map,
        ".wasm": "application/wasm",
        ".js": "text/javascript",
    }

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass


def end_group(group, grace):
    """Ends every process still in the process group: SIGTERM (so that a
    browser driver closes the browser it started), then SIGKILL after grace
    seconds. Returns whether any process was left."""
    try:
        os.killpg(group, signal.SIGTERM)
    except ProcessLookupError:
        return False
    deadline = time.monotonic() + grace
    while time.monotonic() < deadline:
        try:
            os.killpg(group, 0)
        except ProcessLookupError:
            return True
        time.sleep(0.1)
    try:
        os.killpg(group, signal.SIGKILL)
    except ProcessLookupError:
        pass
    return True


def run_ended(command, env, timeout):
    """Runs command in a process group of its own and returns its status.

    On a timeout or an interruption, and after a normal end too, whatever is
    left of the group (a browser the run did not close) is ended: no process
    of the run outlives it.
    """
    process = subprocess.Popen(command, env=env, start_new_session=True)
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        print(f"the browser tests took longer than {timeout} s: stopped", file=sys.stderr)
        return 1
    finally:
        if end_group(process.pid, grace=15):
            print("ended the processes the browser tests left behind", file=sys.stderr)
        if process.poll() is None:
            process.wait()


def npm_ci(npm, web, work):
    """Installs the packages of web's package-lock.json, the tests' too, into
    work (no browser is downloaded). Returns npm's status."""
    os.makedirs(work, exist_ok=True)
    for name in ("package.json", "package-lock.json"):
        shutil.copyfile(os.path.join(web, name), os.path.join(work, name))
    env = dict(os.environ, PUPPETEER_SKIP_DOWNLOAD="1")
    status = subprocess.run([npm, "ci", "--no-audit", "--no-fund", "--loglevel=error"], cwd=work, env=env).returncode
    if status != 0:
        print("npm ci failed", file=sys.stderr)
    return status


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--studio", required=True, help="the built studio folder (index.html, velora_studio.wasm)")
    parser.add_argument("--web", required=True, help="the studio/ source folder (package.json)")
    parser.add_argument("--work", required=True, help="a folder for node_modules and the test's output")
    parser.add_argument("--node", default="node")
    parser.add_argument("--npm", default="npm")
    parser.add_argument("--chromium", default="/usr/bin/chromium")
    parser.add_argument("--preview", help="the previewer (velora-preview), for the script's round trip")
    parser.add_argument("--timeout", type=float, default=600, help="seconds the tests may take in all")
    args = parser.parse_args()

    for name in ("index.html", "velora_studio.js", "velora_studio.wasm"):
        if not os.path.isfile(os.path.join(args.studio, name)):
            print(f"missing {name} in {args.studio}: the studio was not built", file=sys.stderr)
            return 1
    if not os.access(args.chromium, os.X_OK):
        print(f"no Chromium at {args.chromium} (Debian package chromium)", file=sys.stderr)
        return 1

    status = npm_ci(args.npm, args.web, args.work)
    if status != 0:
        return status

    handler = functools.partial(QuietHandler, directory=args.studio)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    url = f"http://127.0.0.1:{server.server_address[1]}/"
    print(f"serving {args.studio} at {url}", flush=True)
    try:
        env = dict(os.environ)
        env.update({
            "STUDIO_URL": url,
            "STUDIO_WORK": os.path.abspath(args.work),
            "CHROMIUM": args.chromium,
        })
        if args.preview:
            env["VELORA_PREVIEW"] = os.path.abspath(args.preview)
        test = os.path.join(os.path.dirname(os.path.abspath(__file__)), "studio.test.mjs")
        return run_ended([args.node, "--test", test], env, timeout=args.timeout)
    finally:
        server.shutdown()
        server.server_close()
        thread.join()


if __name__ == "__main__":
    sys.exit(main())
