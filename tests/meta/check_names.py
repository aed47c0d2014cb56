#!/usr/bin/env python3
"""Checks that every hand-written copy of a shared name agrees with the
public header: the result names and codes, the type-property flags and the
version.

The header (include/QXSymbols.h) is the one source. Copies that list every
name must list exactly the header's names with the header's values; any
other mention of a result or flag name anywhere in the tree must be a name
the header declares, and a value written beside it must be the header's.

Usage: check_names.py ROOT      Exit status 0 when all agree, 1 otherwise.
"""

import json
import os
import re
import sys

HEADER = "include/QXSymbols.h"
RESULT_TABLE = "src/client/ResultInfo.cpp"
RESULT_DOC = "docs/guide/result-codes.md"
NODE_CONSTANTS = "node/src/QXSymbols_wrap.cpp"
NODE_TYPES = "node/index.d.ts"
# Trees scanned for mentions of the names.
SCANNED = (
    "include",
    "src",
    "sim",
    "cli",
    "bridge",
    "node",
    "python",
    "docs",
    "examples",
    "tests",
    "bench",
    "fuzz",
    "README.md",
)
SKIPPED_DIRS = {"node_modules", "build", ".git", "__pycache__"}
SUFFIXES = (".h", ".c", ".cpp", ".js", ".ts", ".py", ".md", ".json", ".toml", ".1", ".txt")

RESULT = r"symRes[A-Za-z0-9_]+"
FLAG = r"QXSymTypeIs[A-Za-z0-9_]+"
VALUE_BESIDE = re.compile(r"\b(" + RESULT + "|" + FLAG + r")\b\s*(?:==|[:=])\s*(\d+)\b")


class Checker:
    def __init__(self, root):
        self.root = root
        self.errors = []

    def read(self, rel):
        path = os.path.join(self.root, rel)
        if not os.path.exists(path):
            return None
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def need(self, rel):
        """The text of a file that must be there (a copy that moved is reported)."""
        text = self.read(rel)
        if text is None:
            self.fail(rel, "missing (moved? update tests/meta/check_names.py)")
        return text

    def fail(self, rel, text):
        self.errors.append(f"{rel}: {text}")

    def same(self, rel, what, found, wanted):
        """Reports the differences between two name-to-value maps."""
        for name in sorted(set(wanted) - set(found)):
            self.fail(rel, f"{what} {name} ({wanted[name]}) is missing")
        for name in sorted(set(found) - set(wanted)):
            self.fail(rel, f"{what} {name} is not declared in {HEADER}")
        for name in sorted(set(found) & set(wanted)):
            if found[name] != wanted[name]:
                self.fail(rel, f"{what} {name} is {found[name]}, the header says {wanted[name]}")


def header_facts(c):
    text = c.need(HEADER)
    if text is None:
        return {}, {}, None
    results = {n: int(v) for n, v in re.findall(r"\b(" + RESULT + r")\s*=\s*(\d+)", text)}
    flags = {n: int(v) for n, v in re.findall(r"\b(" + FLAG + r")\s*=\s*(\d+)", text)}
    if sorted(results.values()) != list(range(len(results))):
        c.fail(HEADER, "result codes are not numbered 0 to N-1 without gaps")
    parts = []
    for part in ("MAJOR", "MINOR", "REVISION", "BUILD"):
        m = re.search(r"#define QXSYMBOLS_VERSION_" + part + r"\s+(\d+)", text)
        if not m:
            c.fail(HEADER, f"QXSYMBOLS_VERSION_{part} is not defined")
            return results, flags, None
        parts.append(m.group(1))
    return results, flags, parts


def check_full_copies(c, results, flags):
    text = c.need(RESULT_TABLE)
    if text is not None:
        names = re.findall(r"^\s*\{\s*\"(" + RESULT + r")\"", text, re.M)
        c.same(RESULT_TABLE, "result", {n: i for i, n in enumerate(names)}, results)
    text = c.need(RESULT_DOC)
    if text is not None:
        rows = re.findall(r"^\|\s*(\d+)\s*\|\s*`(" + RESULT + r")`", text, re.M)
        c.same(RESULT_DOC, "result", {n: int(v) for v, n in rows}, results)
    text = c.need(NODE_CONSTANTS)
    if text is not None:
        listed = re.findall(r"QXSYM_K\((" + RESULT + r")\)", text)
        c.same(NODE_CONSTANTS, "result", {n: results.get(n) for n in listed}, results)
        listed = re.findall(r"QXSYM_K\((" + FLAG + r")\)", text)
        c.same(NODE_CONSTANTS, "flag", {n: flags.get(n) for n in listed}, flags)
    text = c.need(NODE_TYPES)
    if text is not None:
        found = dict(re.findall(r"export const (" + RESULT + r"): (\d+);", text))
        c.same(NODE_TYPES, "result", {n: int(v) for n, v in found.items()}, results)
        found = dict(re.findall(r"export const (" + FLAG + r"): (\d+);", text))
        c.same(NODE_TYPES, "flag", {n: int(v) for n, v in found.items()}, flags)


def scanned_files(root):
    for top in SCANNED:
        path = os.path.join(root, top)
        if os.path.isfile(path):
            yield top
            continue
        for d, dirs, files in os.walk(path):
            dirs[:] = sorted(x for x in dirs if x not in SKIPPED_DIRS and not x.startswith("build"))
            for name in sorted(files):
                if name.endswith(SUFFIXES):
                    yield os.path.relpath(os.path.join(d, name), root)


def check_mentions(c, results, flags):
    known = dict(results)
    known.update(flags)
    for rel in scanned_files(c.root):
        text = c.read(rel)
        for name in sorted(set(re.findall(r"\b(?:" + RESULT + "|" + FLAG + r")\b", text))):
            if name not in known:
                c.fail(rel, f"{name} is not declared in {HEADER}")
        for name, value in VALUE_BESIDE.findall(text):
            if name in known and int(value) != known[name]:
                c.fail(rel, f"{name} written as {value}, the header says {known[name]}")


def check_version(c, parts):
    full = ".".join(parts)
    three = ".".join(parts[:3])
    text = c.need("python/qxsymbols/__init__.py")
    if text is not None:
        m = re.search(r"^__version__\s*=\s*\"([^\"]*)\"", text, re.M)
        if not m or m.group(1) != full:
            c.fail("python/qxsymbols/__init__.py", f'__version__ is not "{full}"')
    text = c.need("python/pyproject.toml")
    if text is not None:
        m = re.search(r"^version\s*=\s*\"([^\"]*)\"", text, re.M)
        if m and m.group(1) != full:
            c.fail("python/pyproject.toml", f"version {m.group(1)} is not {full}")
        if not m and "qxsymbols.__version__" not in text:
            c.fail(
                "python/pyproject.toml", "the version is neither written nor taken from the package"
            )
    text = c.need("node/package.json")
    if text is not None:
        version = json.loads(text).get("version")
        if version != three:
            c.fail("node/package.json", f"version {version} is not {three}")
    for rel in ("docs/man/qxsym.1", "docs/man/qxsym-sim.1", "docs/man/qxsym-genmodel.1"):
        text = c.need(rel)
        if text is None:
            continue
        m = re.search(r"^\.TH .*\"QXSymbols ([0-9.]+)\"", text, re.M)
        if not m or m.group(1) != three:
            c.fail(rel, f"the title line does not name QXSymbols {three}")
    text = c.read("node/README.md")
    for packed in re.findall(r"qxsymbols-(\d+\.\d+\.\d+)\.tgz", text or ""):
        if packed != three:
            c.fail("node/README.md", f"names the package qxsymbols-{packed}.tgz, not {three}")
    # The build and the command-line tool take the version from the header.
    for rel in ("CMakeLists.txt", "cli/main.cpp"):
        text = c.read(rel)
        if text is not None and re.search(r"\b" + re.escape(full) + r"\b", text):
            c.fail(rel, f"writes the version {full} itself instead of taking it from {HEADER}")


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[-2], file=sys.stderr)
        return 2
    c = Checker(argv[1])
    results, flags, parts = header_facts(c)
    if results:
        check_full_copies(c, results, flags)
        check_mentions(c, results, flags)
    if parts:
        check_version(c, parts)
    for e in c.errors:
        print(e, file=sys.stderr)
    if c.errors:
        print(f"{len(c.errors)} disagreement(s) with {HEADER}", file=sys.stderr)
        return 1
    print(
        f"{len(results)} result names, {len(flags)} flags and version {'.'.join(parts or [])} agree"
    )
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
