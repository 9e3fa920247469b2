#!/usr/bin/env python3
"""Checks that every relative link in README.md and docs/*.md resolves.

usage: tools/check-links.py [ROOT]

A link resolves when the file or folder it names exists inside ROOT (the repository, by
default the folder above this script) and, for a link into a Markdown file with a
#fragment, when that file has a heading with that anchor as GitHub makes it (or an HTML
element with that id or name). Links with a scheme (https:, mailto:) are not looked at;
links in code blocks and code spans are not links. Each broken link is printed as
FILE:LINE: TARGET: reason; the exit status is 1 when there is one, 0 otherwise.
"""

import re
import sys
import unicodedata
from pathlib import Path
from urllib.parse import unquote

FENCE = re.compile(r"^ {0,3}(`{3,}|~{3,})")
ATX_HEADING = re.compile(r"^ {0,3}#{1,6}(?:[ \t]+(.*?))?(?:[ \t]+#+)?[ \t]*$")
SETEXT_UNDERLINE = re.compile(r"^ {0,3}(=+|-+)[ \t]*$")
CODE_SPAN = re.compile(r"(`+)(.+?)\1")
# [text](target "title") and ![alt](target); the text may hold one level of brackets
# (a picture inside a link).
INLINE_LINK = re.compile(r"!?\[(?:[^\[\]]|\[[^\[\]]*\])*\]\(\s*(<[^>]*>|[^\s()]*(?:\([^\s()]*\)[^\s()]*)*)(?:\s+(?:\"[^\"]*\"|'[^']*'))?\s*\)")
REFERENCE_DEFINITION = re.compile(r"^ {0,3}\[[^\]]+\]:\s*(<[^>]*>|\S+)")
HTML_LINK = re.compile(r"<(?:a|img)\b[^>]*?\b(?:href|src)\s*=\s*\"([^\"]*)\"", re.IGNORECASE)
HTML_ANCHOR = re.compile(r"<[a-z][^>]*?\b(?:id|name)\s*=\s*\"([^\"]*)\"", re.IGNORECASE)
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")


def blank_code_spans(line):
    """The line with the contents of its code spans replaced by spaces (columns kept)."""
    return CODE_SPAN.sub(lambda m: " " * len(m.group(0)), line)


def prose_lines(text):
    """(line number, line) of every line outside fenced code blocks."""
    fence = None
    for number, line in enumerate(text.splitlines(), start=1):
        opening = FENCE.match(line)
        if fence is None:
            if opening:
                fence = opening.group(1)
                continue
            yield number, line
        elif opening and opening.group(1)[0] == fence[0] and len(opening.group(1)) >= len(fence):
            fence = None


def heading_text(raw):
    """The text a heading shows: code spans keep their contents, links their text."""
    text = CODE_SPAN.sub(lambda m: m.group(2), raw)
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", text)
    text = re.sub(r"<[^>]+>", "", text)
    return text.replace("*", "")


def slug(text):
    """GitHub's anchor for a heading: lower case; letters, marks, digits, connector
    punctuation, spaces and hyphens kept, everything else dropped; spaces become hyphens."""
    kept = []
    for ch in text.strip().lower():
        category = unicodedata.category(ch)
        if ch in " -" or category[0] in "LMN" or category == "Pc":
            kept.append("-" if ch == " " else ch)
    return "".join(kept)


def anchors(text):
    """Every anchor a Markdown file offers: its headings' (repeated ones numbered -1, -2,
    as GitHub does) and the ids and names of its HTML elements."""
    found = set()
    seen = {}
    previous = ""
    for _, line in prose_lines(text):
        heading = None
        atx = ATX_HEADING.match(line)
        if atx:
            heading = atx.group(1) or ""
        elif SETEXT_UNDERLINE.match(line) and previous.strip() and not previous.lstrip().startswith(("|", "-", "*", ">")):
            heading = previous.strip()
        if heading is not None:
            base = slug(heading_text(heading))
            count = seen.get(base, 0)
            seen[base] = count + 1
            found.add(base if count == 0 else f"{base}-{count}")
        found.update(HTML_ANCHOR.findall(line))
        previous = line
    return found


def targets(text):
    """(line number, target) of every link in the Markdown text."""
    for number, line in prose_lines(text):
        prose = blank_code_spans(line)
        for pattern in (INLINE_LINK, REFERENCE_DEFINITION, HTML_LINK):
            for match in pattern.finditer(prose):
                target = match.group(1).strip()
                if target.startswith("<") and target.endswith(">"):
                    target = target[1:-1]
                yield number, target


def check(root):
    root = root.resolve()
    files = [root / "README.md"] + sorted((root / "docs").glob("**/*.md"))
    anchor_cache = {}
    broken = []
    for source in files:
        if not source.is_file():
            continue
        for number, target in targets(source.read_text(encoding="utf-8")):
            if not target or SCHEME.match(target) or target.startswith("//"):
                continue
            path_part, _, fragment = target.partition("#")
            where = f"{source.relative_to(root)}:{number}: {target}"
            destination = (source.parent / unquote(path_part)).resolve() if path_part else source
            if root not in destination.parents and destination != root:
                broken.append(f"{where}: leads out of the repository")
                continue
            if not destination.exists():
                broken.append(f"{where}: {destination.relative_to(root)} does not exist")
                continue
            if fragment and destination.suffix == ".md":
                if destination not in anchor_cache:
                    anchor_cache[destination] = anchors(destination.read_text(encoding="utf-8"))
                if unquote(fragment) not in anchor_cache[destination]:
                    broken.append(f"{where}: no heading with the anchor #{fragment}")
    return broken


def main(argv):
    if len(argv) > 2 or (len(argv) == 2 and argv[1].startswith("-")):
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    root = Path(argv[1]) if len(argv) == 2 else Path(__file__).resolve().parent.parent
    broken = check(root)
    for line in broken:
        print(line)
    if broken:
        print(f"check-links: {len(broken)} broken link(s)", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
