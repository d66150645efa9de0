#!/usr/bin/env python3
"""The two tools that write the release's HTML files, run as the build runs
them: cmake/single_file.py (the studio as one file) and cmake/guide_html.py
(the guides). Each must write a page that loads nothing from anywhere, and
refuse, naming the file and the reason, what would make a broken page, with
nothing written.

usage: page_tools_test.py SOURCE_DIR   (with a Python that has Python-Markdown)
"""
import os
import subprocess
import sys
import tempfile
import unittest

SOURCE = None

PAGE = """<!doctype html>
<html lang="en">
<head>
  <meta charset="utf-8">
  <link rel="icon" href="data:,">
  <link rel="stylesheet" href="studio.css">
</head>
<body>
  <canvas id="stage"></canvas>
  <script type="module" src="main.js"></script>
</body>
</html>
"""


def run(*command):
    return subprocess.run([sys.executable, *command], capture_output=True, text=True)


def write(folder, name, text):
    path = os.path.join(folder, name)
    with open(path, "w", encoding="utf-8") as out:
        out.write(text)
    return path


class SingleFile(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        self.dir = self.folder.name
        self.output = os.path.join(self.dir, "out", "DrawVelora-studio.html")

    def assemble(self, page=PAGE, module="var createVeloraStudio = 1;", effect="function createVeloraEngine() {}"):
        return run(os.path.join(SOURCE, "cmake", "single_file.py"), self.output,
                   "--page", write(self.dir, "index.html", page),
                   "--style", "studio.css=" + write(self.dir, "bundle.css", "body { margin: 0; }"),
                   "--inline", "velora-studio-module=" + write(self.dir, "module.js", module),
                   "--inline", "velora-effect=" + write(self.dir, "effect.js", effect),
                   "--module", "main.js=" + write(self.dir, "page.js", "(() => { start(); })();"))

    def test_puts_every_piece_inline_in_order_under_a_policy_of_no_loads(self):
        result = self.assemble()
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(self.output, encoding="utf-8") as page:
            text = page.read()
        order = [text.index(part) for part in ('<script id="velora-studio-module">', "createVeloraStudio",
                                               '<script id="velora-effect">', "createVeloraEngine",
                                               "<script>\n(() => { start(); })();")]
        self.assertEqual(order, sorted(order))
        self.assertIn("<style>\nbody { margin: 0; }\n</style>", text)
        self.assertIn("Content-Security-Policy\" content=\"default-src 'none';", text)
        self.assertNotIn("src=\"main.js\"", text)
        self.assertNotIn("studio.css", text)
        self.assertEqual(os.listdir(os.path.dirname(self.output)), ["DrawVelora-studio.html"])

    def test_refuses_text_that_would_end_its_script_early_and_writes_nothing(self):
        for text, shown in (("var s = '</SCRIPT>';", "</SCRIPT"), ("// <!-- a comment\nvar x;", "<!--")):
            result = self.assemble(effect="var ok = 1;\n" + text)
            self.assertEqual(result.returncode, 1)
            self.assertIn(f'effect.js holds "{shown}" on line 2', result.stderr)
            self.assertFalse(os.path.exists(self.output))

    def test_refuses_a_page_that_still_loads_from_an_address(self):
        result = self.assemble(page=PAGE.replace("<canvas", '<img src="logo.png" alt=""><canvas'))
        self.assertEqual(result.returncode, 1)
        self.assertIn('would still load <img src="logo.png">', result.stderr)
        self.assertFalse(os.path.exists(self.output))


class Guides(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        self.dir = self.folder.name
        with open(os.path.join(SOURCE, "docs", "modes.png"), "rb") as source, \
                open(os.path.join(self.dir, "modes.png"), "wb") as copy:
            copy.write(source.read())
        self.english = write(self.dir, "GUIDE.md", "# Guide\n\n| a | b |\n|---|---|\n| 1 | 2 |\n\n"
                                                   "```\nInit(1, 640, 480, 0, 32, 4);\n```\n")
        self.out = os.path.join(self.dir, "out")

    def convert(self, japanese):
        return run(os.path.join(SOURCE, "cmake", "guide_html.py"), self.out, "--beside", "DrawVelora-studio.html",
                   self.english, write(self.dir, "GUIDE.ja.md", japanese))

    def test_each_guide_is_one_page_in_its_language_with_its_picture_inside(self):
        result = self.convert("# ガイド\n\n![モード](modes.png) [English](GUIDE.md#guide) "
                              "[スタジオ](DrawVelora-studio.html)\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(self.out, "GUIDE.ja.html"), encoding="utf-8") as page:
            japanese = page.read()
        with open(os.path.join(self.out, "GUIDE.html"), encoding="utf-8") as page:
            english = page.read()
        self.assertIn('<html lang="ja">', japanese)
        self.assertIn('<meta charset="utf-8">', japanese)
        self.assertIn("<title>ガイド</title>", japanese)
        self.assertIn('src="data:image/png;base64,iVBORw0KGgo', japanese)
        self.assertIn('href="GUIDE.html#guide"', japanese)
        self.assertIn('href="DrawVelora-studio.html"', japanese)
        self.assertIn('<html lang="en">', english)
        self.assertIn("<table>", english)
        self.assertIn("<pre><code>Init(1, 640, 480, 0, 32, 4);", english)

    def test_refuses_a_link_to_a_file_that_does_not_come_with_it_and_writes_no_guide(self):
        result = self.convert("# ガイド\n\n[README](../README.md)\n")
        self.assertEqual(result.returncode, 1)
        self.assertIn("GUIDE.ja.md links to ../README.md, which does not come with the guide", result.stderr)
        self.assertFalse(os.path.exists(self.out))


if __name__ == "__main__":
    SOURCE = sys.argv.pop(1)
    unittest.main(verbosity=2)
