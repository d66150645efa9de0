#!/usr/bin/env python3
"""Turns the script authors' guides (Markdown) into HTML files that open by
double-click, one self-contained file each.

usage: guide_html.py OUTPUT_FOLDER [--beside NAME ...] GUIDE.md [GUIDE.ja.md ...]

Each NAME.md becomes OUTPUT_FOLDER/NAME.html (Python-Markdown with tables and
fenced code), in the language its name gives (GUIDE.ja.md: Japanese, else
English), with its pictures inside it as data: addresses and a small
stylesheet with the system's own fonts; it loads nothing from anywhere. A
link to another guide of the list leads to that guide's HTML file; a link to
a file that is neither a guide nor one of the --beside names (the files that
come with the guides) is refused, so is a picture that cannot be read.

Each file is written beside its place and renamed when complete; on any
failure the reason is printed, nothing more is written and the exit status
is 1 (2 for wrong arguments).
"""
import argparse
import base64
import html
import mimetypes
import os
import sys
import urllib.parse

from build_files import Refused, read_text, write_beside

try:
    import markdown
    from markdown.treeprocessors import Treeprocessor
except ImportError:
    print("guide_html: needs Python-Markdown (Debian package python3-markdown)", file=sys.stderr)
    sys.exit(1)

# Latin text in the system's interface font, Japanese in the system's
# Japanese one: Windows (Segoe UI, Yu Gothic UI, Meiryo), macOS (Hiragino),
# Linux (Noto CJK). A Japanese guide takes the Japanese fonts first, whose
# Latin letters match their kana.
STYLE = """\
body { margin: 0; color: #1f2328; background: #fff; font: 16px/1.75 "Segoe UI", "Yu Gothic UI", Meiryo,
  "Hiragino Sans", "Hiragino Kaku Gothic ProN", "Noto Sans CJK JP", "Noto Sans JP", system-ui, sans-serif; }
:lang(ja) body { font-family: "Yu Gothic UI", Meiryo, "Hiragino Sans", "Hiragino Kaku Gothic ProN",
  "Noto Sans CJK JP", "Noto Sans JP", system-ui, sans-serif; }
main { max-width: 50em; margin: 0 auto; padding: 1em 1.2em 4em; }
h1, h2, h3 { line-height: 1.35; }
h2 { margin-top: 2em; padding-bottom: .2em; border-bottom: 1px solid #d0d7de; }
code, pre { font-family: Consolas, "BIZ UDGothic", "MS Gothic", ui-monospace, "Noto Sans Mono CJK JP", monospace;
  font-size: .9em; }
code { padding: .1em .3em; background: #eff1f3; border-radius: 4px; overflow-wrap: break-word; }
pre { padding: .8em 1em; background: #f6f8fa; border-radius: 6px; overflow-x: auto; line-height: 1.5; }
pre code { padding: 0; background: none; overflow-wrap: normal; }
table { display: block; overflow-x: auto; border-collapse: collapse; }
th, td { padding: .35em .7em; border: 1px solid #d0d7de; text-align: left; vertical-align: top; }
th { background: #f6f8fa; }
img { max-width: 100%; height: auto; }
"""

# The guide loads nothing: its styles and pictures are inside it.
POLICY = "default-src 'none'; img-src data:; style-src 'unsafe-inline'"

PAGE = """\
<!doctype html>
<html lang="{lang}">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="{policy}">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{title}</title>
<style>
{style}</style>
</head>
<body>
<main>
{body}
</main>
</body>
</html>
"""


def language(path):
    """GUIDE.ja.md -> "ja"; GUIDE.md -> "en"."""
    parts = os.path.basename(path).split(".")
    return parts[-2] if len(parts) > 2 else "en"


def html_name(path):
    return os.path.basename(path)[:-len(".md")] + ".html"


def is_relative(address):
    parsed = urllib.parse.urlsplit(address)
    return not parsed.scheme and not parsed.netloc and bool(parsed.path)


class Files(Treeprocessor):
    """Puts pictures inside the page and points links at the package's files."""

    def __init__(self, md, source, guides, beside):
        super().__init__(md)
        self.folder = os.path.dirname(os.path.abspath(source))
        self.source = source
        self.guides = guides      # NAME.md -> NAME.html
        self.beside = beside

    def run(self, root):
        for image in root.iter("img"):
            address = image.get("src", "")
            if is_relative(address):
                image.set("src", self.data_address(urllib.parse.unquote(address)))
        for link in root.iter("a"):
            address = link.get("href", "")
            if not is_relative(address):
                continue
            parsed = urllib.parse.urlsplit(address)
            name = urllib.parse.unquote(parsed.path)
            if name in self.guides:
                link.set("href", urllib.parse.urlunsplit(("", "", self.guides[name], parsed.query, parsed.fragment)))
            elif name not in self.beside and name not in self.guides.values():
                raise Refused(f"{self.source} links to {name}, which does not come with the guide")

    def data_address(self, name):
        path = os.path.join(self.folder, name)
        kind = mimetypes.guess_type(name)[0]
        if not kind or not kind.startswith("image/"):
            raise Refused(f"{self.source}: the picture {name} is not a picture file a browser shows")
        try:
            with open(path, "rb") as picture:
                data = picture.read()
        except OSError as error:
            raise Refused(f"{self.source}: cannot read the picture {path}: {error.strerror}") from None
        return f"data:{kind};base64,{base64.b64encode(data).decode('ascii')}"


def convert(source, guides, beside):
    text = read_text(source)
    md = markdown.Markdown(extensions=["tables", "fenced_code"], output_format="html")
    md.treeprocessors.register(Files(md, source, guides, beside), "velora-files", 5)
    body = md.convert(text)
    title = next((line[2:].strip() for line in text.splitlines() if line.startswith("# ")), "DrawVelora")
    return PAGE.format(lang=language(source), policy=POLICY, title=html.escape(title), style=STYLE, body=body)


def main(argv):
    parser = argparse.ArgumentParser(prog="guide_html.py", description=__doc__.strip().splitlines()[0])
    parser.add_argument("output_folder")
    parser.add_argument("--beside", action="append", default=[], metavar="NAME",
                        help="a file that comes with the guides, which they may link to")
    parser.add_argument("sources", nargs="+", metavar="GUIDE.md")
    args = parser.parse_args(argv[1:])
    bad = [source for source in args.sources if not source.endswith(".md")]
    if bad:
        parser.error(f"not a Markdown file: {', '.join(bad)}")
    guides = {os.path.basename(source): html_name(source) for source in args.sources}
    try:
        # Every guide is converted before the first is written: a refused
        # one leaves all of them as they were.
        pages = [(html_name(source), convert(source, guides, set(args.beside))) for source in args.sources]
        for name, text in pages:
            write_beside(os.path.join(args.output_folder, name), text)
    except Refused as error:
        print(f"guide_html: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
