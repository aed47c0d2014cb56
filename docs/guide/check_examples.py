#!/usr/bin/env python3
"""Keeps the guide's code blocks equal to the example files the tests run.

A block follows a line "<!-- example: examples/NAME -->" in a page of the
guide (a path relative to the guide, so a page may also show one of the
project's top-level examples). Every block must equal its file, and every file under examples/ must
be shown by some page. With --update the blocks are rewritten from the files.
Exit status 0 when all agree, 1 otherwise (each difference named).
"""
import re
import sys
from pathlib import Path

GUIDE = Path(__file__).resolve().parent
MARK = re.compile(r"<!-- example: (\S+) -->\n```(\w*)\n(.*?)```\n", re.S)


def main() -> int:
    update = "--update" in sys.argv[1:]
    problems = []
    shown = set()
    for page in sorted(GUIDE.glob("*.md")):
        text = page.read_text()

        def replace(m: "re.Match[str]") -> str:
            rel, lang, body = m.group(1), m.group(2), m.group(3)
            source = GUIDE / rel
            shown.add(source.resolve())
            if not source.is_file():
                problems.append(f"{page.name}: {rel} does not exist")
                return m.group(0)
            wanted = source.read_text()
            if body != wanted:
                problems.append(f"{page.name}: the block of {rel} differs from the file")
            return f"<!-- example: {rel} -->\n```{lang}\n{wanted}```\n"

        new_text = MARK.sub(replace, text)
        if update and new_text != text:
            page.write_text(new_text)
    for f in sorted((GUIDE / "examples").iterdir()):
        # Folders (a run's __pycache__, say) are not examples.
        if f.is_file() and f.resolve() not in shown:
            problems.append(f"examples/{f.name} is shown by no page")
    if update:
        problems = [p for p in problems if "differs" not in p]
    for p in problems:
        print(p, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
