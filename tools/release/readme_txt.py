#!/usr/bin/env python3
"""Renders the Windows user's README.txt from README.md, so the two never drift apart: the part of
README.md between its "README.txt begins" and "README.txt ends" markers, as plain ASCII text with
CRLF line ends, wrapped for Notepad. Usage: readme_txt.py README.md VERSION > README.txt"""
import re
import sys
import textwrap

WIDTH = 76
BEGIN, END = "<!-- README.txt begins", "<!-- README.txt ends"


def inline(text):
    text = re.sub(r"\[([^]]+)\]\([^)]*\)", r"\1", text)
    text = text.replace("**", "")
    # A code span with blanks in it is quoted, so that a template's blanks stay visibly its own,
    # and kept on one line (NUL stands for its blanks while the text is wrapped).
    return re.sub(r"`([^`]+)`",
                  lambda m: '"' + m[1].replace(" ", "\0") + '"' if " " in m[1] else m[1], text)


def wrap(text, first, rest):
    lines = textwrap.wrap(inline(text), WIDTH, initial_indent=first, subsequent_indent=rest,
                          break_long_words=False, break_on_hyphens=False)
    return [line.replace("\0", " ") for line in lines]


def render(markdown, version):
    lines = markdown.splitlines()
    try:
        begin = next(i for i, line in enumerate(lines) if line.startswith(BEGIN))
        end = next(i for i, line in enumerate(lines) if line.startswith(END))
    except StopIteration:
        raise SystemExit("readme_txt: README.md lacks its README.txt markers")
    title = f"Quorvel {version} for Windows"
    out = [title, "=" * len(title), "",
           *wrap("quorvel.exe keeps the guest display of a running VMware Workstation virtual "
                 "machine freshly painted. It runs on 32-bit and 64-bit Windows.", "", "")]
    block = []  # the lines of the paragraph or list item being read

    def flush():
        if block:
            item = re.match(r"(- |\d+\. )", block[0])
            text = " ".join(part.strip() for part in block)
            if item:
                out.extend(wrap(text[len(item[1]):], item[1], " " * len(item[1])))
            else:
                out.extend(wrap(text, "", ""))
            block.clear()

    for line in lines[begin + 1:end]:
        if line.startswith("    ") and not block:
            out.append(line.rstrip())
        elif line.startswith("## "):
            flush()
            heading = inline(line[3:])
            while out[-1] == "":
                out.pop()
            out.extend(["", "", heading, "-" * len(heading), ""])
        elif not line.strip():
            flush()
            if out[-1] != "":
                out.append("")
        elif re.match(r"(- |\d+\. )", line):
            flush()
            block.append(line)
        else:
            block.append(line)
    flush()
    while out[-1] == "":
        out.pop()
    text = "\r\n".join(out) + "\r\n"
    bad = sorted({c for c in text if ord(c) > 126 or (ord(c) < 32 and c not in "\r\n")})
    if bad:
        raise SystemExit(f"readme_txt: characters Notepad may not show: {bad}")
    return text


if __name__ == "__main__":
    with open(sys.argv[1], encoding="utf-8") as f:
        sys.stdout.buffer.write(render(f.read(), sys.argv[2]).encode("ascii"))
