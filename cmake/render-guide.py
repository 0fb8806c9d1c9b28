#!/usr/bin/env python3
"""Renders the integrator's guide (docs/guide.md) into guide.html: one page
that stands alone and works offline. Python-Markdown makes the HTML, the
heading ids and the table of contents (levels 2 and 3, after the title and
its opening text); pictures beside the guide go into the page as data URIs;
a link to a file stays as its text, since the page travels without the
source tree. Fails when two headings would share an id or a link within
the page lands nowhere.

    render-guide.py INPUT OUTPUT VERSION
"""
import base64, html, os, re, sys
import xml.etree.ElementTree as etree

import markdown
from markdown.preprocessors import Preprocessor
from markdown.treeprocessors import Treeprocessor

LIST_ITEM = re.compile(r"^( *)(?:[-*+]|\d+\.) +(?=\S)")


class ListIndent(Preprocessor):
    """The guide indents what belongs to a list item to the item's text
    (two or three spaces), as GitHub reads it; Python-Markdown wants four
    spaces a level, and a blank line before an item that follows a block
    of an item above it. Each item's block is moved to that rule."""

    def run(self, lines):
        items = []  # (column of the item's text in the guide, column it gets)
        out, after_text, fenced, block = [], False, False, 0
        for line in lines:
            text = line.lstrip(" ")
            indent = len(line) - len(text)
            if text.startswith("```") and (fenced or not items or indent >= items[-1][0]):
                fenced = not fenced
            if not text:
                out.append(line)
                after_text = False
                continue
            if not after_text:
                block = indent
            item = None if fenced else LIST_ITEM.match(line)
            if not fenced and not item and after_text and items and indent < items[-1][0]:
                out.append(line)  # a paragraph's lazy continuation
                continue
            while items and indent < items[-1][0] and not (fenced and not text.startswith("```")):
                items.pop()
            column, moved = items[-1] if items else (0, 0)
            start = moved + max(0, indent - column)
            if item and indent < block:
                out.append("")
                block = indent
            out.append(" " * start + text)
            if item:
                items.append((item.end(), start + 4))
            after_text = True
        return out


class NoComments(Preprocessor):
    """The guide's comments (its examples' commands, the files a site makes)
    are for its checks, not for the page."""

    def run(self, lines):
        return [line for line in lines if not re.fullmatch(r"<!--.*-->", line.strip())]


class FileLinks(Treeprocessor):
    """Links to files become their text; pictures beside the guide, data URIs."""

    def __init__(self, md, folder):
        super().__init__(md)
        self.folder = folder

    def run(self, root):
        for parent in root.iter():
            for index, child in enumerate(list(parent)):
                href = child.get("href", "#")
                if child.tag == "a" and not re.match(r"#|[a-z]+:", href):
                    child.tag = "span"
                    child.attrib.clear()
            if parent.tag == "img" and not re.match(r"[a-z]+:", parent.get("src", "")):
                with open(os.path.join(self.folder, parent.get("src")), "rb") as picture:
                    parent.set("src", "data:image/png;base64," + base64.b64encode(picture.read()).decode())


class GuidePage(markdown.Extension):
    def __init__(self, folder):
        super().__init__()
        self.folder = folder

    def extendMarkdown(self, md):
        md.preprocessors.register(NoComments(md), "no_comments", 36)
        md.preprocessors.register(ListIndent(md), "list_indent", 35)
        md.treeprocessors.register(FileLinks(md, self.folder), "file_links", 1)


STYLE = """body { font-family: sans-serif; max-width: 60em; margin: 2em auto; padding: 0 1em; line-height: 1.45; }
pre { background: #f4f4f4; padding: 0.6em; overflow-x: auto; }
code { font-family: monospace; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #bbb; padding: 0.25em 0.5em; text-align: left; vertical-align: top; }
th { background: #eee; }
nav { border: 1px solid #ddd; padding: 0 1em; margin: 1em 0; }
nav ul { list-style: none; padding-left: 0; }
nav ul ul { padding-left: 1.5em; }"""


def render(source, folder, version):
    md = markdown.Markdown(
        extensions=["toc", "tables", "fenced_code", GuidePage(folder)],
        extension_configs={"toc": {"toc_depth": "2-3", "permalink": False}},
    )
    body = md.convert(source)
    ids = [token["id"] for token in flat(md.toc_tokens)]
    problems = [f"two sections would be #{name}" for name in sorted({i for i in ids if ids.count(i) > 1})]
    for target in re.findall(r'href="#([^"]*)"', body):
        if target not in ids:
            problems.append(f"links to #{target}, which no section is")
    contents = re.sub(r'^<div class="toc">\s*|\s*</div>\s*$', "", md.toc)
    nav = f"<nav>\n<h2>Contents</h2>\n{contents}\n</nav>\n"
    first = body.find("<h2")
    if first >= 0:
        body = body[:first] + nav + body[first:]
    page = f"""<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>QELKOPHV {html.escape(version)}: the integrator's guide</title>
<style>
{STYLE}
</style>
</head>
<body>
<p><small>QELKOPHV {html.escape(version)}</small></p>
{body}
</body>
</html>
"""
    return page, problems


def flat(tokens):
    for token in tokens:
        yield token
        yield from flat(token["children"])


def main():
    source_path, output, version = sys.argv[1:4]
    with open(source_path, encoding="utf-8") as source:
        page, problems = render(source.read(), os.path.dirname(source_path), version)
    for problem in problems:
        print(f"render-guide: {source_path} {problem}", file=sys.stderr)
    if problems:
        return 1
    with open(output, "w", encoding="utf-8") as out:
        out.write(page)
    return 0


if __name__ == "__main__":
    sys.exit(main())
