#!/usr/bin/env python3
"""Puts the studio's pieces into its page: one HTML file that opens from disk.

usage: single_file.py OUTPUT.html --page index.html --style NAME=PATH
           --inline ID=PATH [--inline ID=PATH ...] --module NAME=PATH

The page's <link rel="stylesheet" href="NAME"> becomes <style> with PATH's
text (esbuild's bundle of the stylesheet). Its <script type="module"
src="NAME"> becomes, in order, one classic <script id="ID"> per --inline
(the Emscripten module's script with the WebAssembly inside it, the effect's
engine), then a classic <script> with PATH's text (esbuild's IIFE bundle of
the page's modules). A text that would end its element early ("</script",
"<!--" in a script, "</style" in a style) is refused, and so is a page that
still loads anything from an address: only data: and blob: addresses are
left, which the page makes itself. A Content-Security-Policy in the page
holds the browser to that too.

The file is written beside OUTPUT and renamed when complete; on any failure
OUTPUT is left as it was, the reason is printed and the exit status is 1
(2 for wrong arguments).
"""
import argparse
import html
import html.parser
import os
import re
import sys

from build_files import Refused, read_text, write_beside

# What the page may do without a network: inline scripts and styles, the
# worker made from a blob, the WebAssembly compiled in the page, pictures and
# videos it makes itself. Nothing is fetched from anywhere.
POLICY = ("default-src 'none'; script-src 'unsafe-inline' 'wasm-unsafe-eval' blob:; worker-src blob:; "
          "style-src 'unsafe-inline'; img-src data: blob:; media-src blob:; connect-src data: blob:; "
          "base-uri 'none'; form-action 'none'")

# Elements and attributes that make the browser load something.
LOADING = {
    "script": ("src",), "img": ("src", "srcset"), "source": ("src", "srcset"), "iframe": ("src",),
    "frame": ("src",), "embed": ("src",), "object": ("data",), "video": ("src", "poster"),
    "audio": ("src",), "track": ("src",), "input": ("src",), "link": ("href",), "image": ("href",),
}
# <link> relations that are not loads (a link to a file beside the page is a
# navigation the user makes).
LINK_NOT_LOADING = {"alternate", "author", "help", "license", "next", "prev", "search"}


class LoadFinder(html.parser.HTMLParser):
    """Collects every address the page would load on its own."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.loads = []

    def handle_starttag(self, tag, attrs):
        values = dict(attrs)
        if tag == "link" and not (set((values.get("rel") or "").lower().split()) - LINK_NOT_LOADING):
            return
        for name in LOADING.get(tag, ()):
            value = values.get(name)
            if value is None:
                continue
            for address in (value.split(",") if name == "srcset" else [value]):
                address = address.strip().split(" ")[0]
                if not address.lower().startswith(("data:", "blob:")):
                    self.loads.append(f"<{tag} {name}=\"{address}\">")


def refuse_closers(text, path, element, closers):
    """text must not end its <element> early."""
    lowered = text.lower()
    for closer in closers:
        at = lowered.find(closer)
        if at >= 0:
            line = text.count("\n", 0, at) + 1
            raise Refused(f"{path} holds \"{text[at:at + len(closer)]}\" on line {line}, which would end "
                          f"its <{element}> in the page early")


def script_element(text, path, element_id=None):
    refuse_closers(text, path, "script", ("</script", "<!--"))
    opening = f'<script id="{html.escape(element_id)}">' if element_id else "<script>"
    return f"{opening}\n{text.rstrip()}\n</script>"


def replace_once(page, pattern, replacement, what, page_path):
    found = re.findall(pattern, page, flags=re.IGNORECASE)
    if len(found) != 1:
        raise Refused(f"{page_path} has {len(found)} {what}, not one")
    return re.sub(pattern, lambda _: replacement, page, flags=re.IGNORECASE)


def pair(text):
    name, sep, path = text.partition("=")
    if not sep or not name or not path:
        raise argparse.ArgumentTypeError(f"{text!r} is not NAME=PATH")
    return name, path


def assemble(args):
    page = read_text(args.page)

    name, path = args.style
    css = read_text(path)
    refuse_closers(css, path, "style", ("</style",))
    page = replace_once(page, r'<link\b[^>]*\bhref="' + re.escape(name) + r'"[^>]*>',
                        f"<style>\n{css.rstrip()}\n</style>", f'stylesheet links to "{name}"', args.page)

    name, path = args.module
    scripts = [script_element(read_text(p), p, element_id) for element_id, p in args.inline]
    scripts.append(script_element(read_text(path), path))
    page = replace_once(page, r'<script\b[^>]*\bsrc="' + re.escape(name) + r'"[^>]*>\s*</script>',
                        "\n".join(scripts), f'scripts from "{name}"', args.page)

    policy = f'<meta http-equiv="Content-Security-Policy" content="{POLICY}">'
    page = replace_once(page, r'<meta charset="utf-8">', f'<meta charset="utf-8">\n  {policy}',
                        '<meta charset="utf-8"> tags', args.page)

    finder = LoadFinder()
    finder.feed(page)
    finder.close()
    if finder.loads:
        raise Refused(f"{args.page} would still load {', '.join(finder.loads)}: only data: and blob: addresses "
                      "may be left in the single file")
    return page


def main(argv):
    parser = argparse.ArgumentParser(prog="single_file.py", description=__doc__.strip().splitlines()[0])
    parser.add_argument("output")
    parser.add_argument("--page", required=True, help="the page (index.html)")
    parser.add_argument("--style", required=True, type=pair, help="NAME=PATH: the stylesheet NAME, bundled")
    parser.add_argument("--inline", required=True, type=pair, action="append",
                        help="ID=PATH: a classic script put before the page's own, as <script id=ID>")
    parser.add_argument("--module", required=True, type=pair, help="NAME=PATH: the module script NAME, bundled")
    args = parser.parse_args(argv[1:])
    try:
        write_beside(args.output, assemble(args))
    except Refused as error:
        print(f"single_file: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
