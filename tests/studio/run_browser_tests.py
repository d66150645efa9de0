#!/usr/bin/env python3
"""Runs the studio's browser tests against the built page.

Serves the built studio folder on a free port of 127.0.0.1 (a server thread
of this process), installs the tests' npm packages with `npm ci` into a work
folder (of them these tests use playwright-core, which drives Debian's
Chromium and never downloads a browser), runs the Node test script against
the page, and stops the server. The exit status is the test script's.
"""

import argparse
import ctypes
import functools
import http.server
import os
import shutil
import signal
import subprocess
import sys
import threading
import time


PR_SET_CHILD_SUBREAPER = 36  # <linux/prctl.h>


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    """Serves files without logging every request to the test output."""

    extensions_map = {
        **http.server.SimpleHTTPRequestHandler.extensions_map,
        ".wasm": "application/wasm",
        ".js": "text/javascript",
    }

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass


def adopt_orphans():
    """Makes this process the one that inherits the orphans of its
    descendants (Linux's child subreaper): the browsers leave the drivers'
    process group and session (the drivers start them detached, their crash
    handlers detach once more), but not this process's tree."""
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        raise OSError(ctypes.get_errno(), "prctl(PR_SET_CHILD_SUBREAPER)")


def descendants():
    """The live processes below this one: {pid: command name}."""
    parents, names = {}, {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat", encoding="utf-8", errors="replace") as stat:
                head, _, tail = stat.read().rpartition(")")
        except OSError:
            continue  # gone meanwhile
        state, parent = tail.split()[:2]
        if state != "Z":
            parents[int(entry)] = int(parent)
            names[int(entry)] = head.partition("(")[2]
    found, frontier = {}, [os.getpid()]
    while frontier:
        parent = frontier.pop()
        for pid, its_parent in parents.items():
            if its_parent == parent and pid not in found:
                found[pid] = names[pid]
                frontier.append(pid)
    return found


def reap():
    """Collects the exit status of adopted orphans that have ended."""
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


def end_descendants(grace):
    """Ends every process still below this one: SIGTERM, then SIGKILL after
    grace seconds. Returns the names of those there were."""
    left = descendants()
    for signal_number in (signal.SIGTERM, signal.SIGKILL):
        for pid in descendants():
            try:
                os.kill(pid, signal_number)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + (grace if signal_number == signal.SIGTERM else 5)
        while time.monotonic() < deadline:
            reap()
            if not descendants():
                return sorted(set(left.values()))
            time.sleep(0.1)
    reap()
    return sorted(set(left.values()))


def run_ended(command, env, timeout):
    """Runs command in a process group of its own and returns its status.

    On a timeout or an interruption the group gets SIGTERM first (so that the
    browser drivers close the browsers they started), then SIGKILL after a
    grace period. After that, and after a normal end too, every process left
    below this one (a browser that was not closed, its crash handler) is
    ended: no process of the run outlives it.
    """
    adopt_orphans()
    process = subprocess.Popen(command, env=env, start_new_session=True)
    try:
        status = process.wait(timeout=timeout)
        if status < 0:
            print(f"the browser tests were ended by signal {-status}", file=sys.stderr)
            return 1
        return status
    except subprocess.TimeoutExpired:
        print(f"the browser tests took longer than {timeout} s: stopped", file=sys.stderr)
        return 1
    finally:
        if process.poll() is None:
            os.killpg(process.pid, signal.SIGTERM)
            try:
                process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
        left = end_descendants(grace=15)
        if left:
            print(f"ended what the browser tests left running: {', '.join(left)}", file=sys.stderr)


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
    parser.add_argument("--preview", help="the previewer (velora_previewer), for the script's round trip")
    parser.add_argument("--timeout", type=float, default=600, help="seconds the tests may take in all")
    parser.add_argument("--only", help="run only the tests whose names match this regular expression")
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
        pattern = [f"--test-name-pattern={args.only}"] if args.only else []
        return run_ended([args.node, "--test", *pattern, test], env, timeout=args.timeout)
    finally:
        server.shutdown()
        server.server_close()
        thread.join()


if __name__ == "__main__":
    sys.exit(main())
