#!/usr/bin/env python3
"""The rendered guide reads as written: every heading of the Markdown is a
heading of the page with the same text, no two elements share an id, every
link within the page lands, no markup shows as text, and no link points at
a file that the archive folder lacks.

    guide_page.py GUIDE_MD GUIDE_HTML
"""
import html.parser, os, re, sys

# Text that only shows when markup was taken for text.
MARKUP_AS_TEXT = ["&quot;", "&amp;", "&lt;", "&gt;", '"#";', "<h", "</", "**", "](", "<!--"]


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.headings, self.ids, self.links, self.texts = [], [], [], []
        self.heading, self.code = None, 0

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if "id" in attrs:
            self.ids.append(attrs["id"])
        if tag in ("a", "img", "link", "script") and (attrs.get("href") or attrs.get("src")):
            self.links.append(attrs.get("href") or attrs.get("src"))
        if re.fullmatch(r"h[1-6]", tag):
            self.heading = ""
        if tag in ("code", "pre", "style", "title"):
            self.code += 1

    def handle_endtag(self, tag):
        if re.fullmatch(r"h[1-6]", tag) and self.heading is not None:
            self.headings.append(" ".join(self.heading.split()))
            self.heading = None
        if tag in ("code", "pre", "style", "title"):
            self.code -= 1

    def handle_data(self, data):
        if self.heading is not None:
            self.heading += data
        if not self.code:
            self.texts.append(data)


def markdown_headings(text):
    text = re.sub(r"^```.*?^```", "", text, flags=re.S | re.M)
    for heading in re.findall(r"^#{1,6}\s+(.*?)\s*#*\s*$", text, re.M):
        yield " ".join(re.sub(r"`([^`]*)`|\*\*(.*?)\*\*", lambda m: m.group(1) or m.group(2), heading).split())


def problems(markdown_path, page_path):
    page = Page()
    with open(page_path, encoding="utf-8") as source:
        page.feed(source.read())
    with open(markdown_path, encoding="utf-8") as source:
        wanted = list(markdown_headings(source.read()))
    for heading in wanted:
        if heading not in page.headings:
            yield f"the heading {heading!r} is no heading of the page"
    for name in sorted({i for i in page.ids if page.ids.count(i) > 1}):
        yield f"the id {name!r} is given {page.ids.count(name)} times"
    folder = os.path.dirname(os.path.abspath(page_path))
    for link in page.links:
        if link.startswith("#"):
            if link[1:] not in page.ids:
                yield f"the link {link} lands nowhere"
        elif not re.match(r"(https?|mailto|data):", link) and not os.path.exists(os.path.join(folder, link)):
            yield f"the link {link} names a file the archive lacks"
    text = "".join(page.texts)
    for markup in MARKUP_AS_TEXT:
        count = text.count(markup)
        if count:
            at = text.index(markup)
            yield f"{markup!r} shows as text {count} times, first in {text[max(0, at - 40):at + 40]!r}"


def main():
    found = list(problems(sys.argv[1], sys.argv[2]))
    for problem in found:
        print(f"check-release: FAIL {sys.argv[2]}: {problem}")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
