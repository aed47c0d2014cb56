#!/usr/bin/env python3
"""Finds C and C++ functions longer than the house limit.

A brace counter good enough for clang-formatted code: comments, string and
character literals are blanked out, then every opening brace met at
namespace, class or file scope whose statement so far holds a parameter list
starts a function body (lambdas inside a body count towards that body).
A function's length runs from the line of its opening brace to the line of
its closing one.

Usage: check-function-length.py [--max N] PATH...   (files or folders)
Exit status 0 when every function is within the limit, 1 otherwise.
"""

import argparse
import os
import re
import sys

SOURCE_SUFFIXES = (".c", ".cc", ".cpp", ".h", ".hpp")
# Statements that open a scope which is not a function body even when they
# hold parentheses.
SCOPE_KEYWORDS = re.compile(r"^\s*(?:template\s*<.*>\s*)?(namespace|class|struct|union|enum)\b")
NAMESPACE_LIKE = re.compile(r"^\s*(?:namespace\b|extern\s+\"[^\"]*\")")  # literals are blanked
AGGREGATE = re.compile(r"=\s*$|\breturn\b")


def blank_literals(text):
    """Returns text with comments and literals replaced by spaces (newlines kept)."""
    out = []
    i = 0
    n = len(text)
    while i < n:
        c = text[i]
        nxt = text[i + 1] if i + 1 < n else ""
        if c == "/" and nxt == "/":
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif c == "/" and nxt == "*":
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif (
            c == "R"
            and nxt == '"'
            and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_"))
        ):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            if not m:
                out.append(c)
                i += 1
                continue
            end = text.find(")" + m.group(1) + '"', i)
            j = n if end < 0 else end + len(m.group(1)) + 2
            out.append('""' + re.sub(r"[^\n]", " ", text[i + 2 : j]))
            i = j
        elif c in "\"'":
            # A digit separator (1'000) is not a literal.
            if c == "'" and i > 0 and text[i - 1].isalnum() and nxt.isalnum():
                out.append(" ")
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * max(0, j - i - 2) + (c if j - i >= 2 else ""))
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


def strip_preprocessor(text):
    """Blanks preprocessor lines (with their continuations)."""
    lines = text.split("\n")
    keep = True
    for k, line in enumerate(lines):
        if line.lstrip().startswith("#") or not keep:
            keep = not line.rstrip().endswith("\\")
            lines[k] = ""
        else:
            keep = True
    return "\n".join(lines)


def long_functions(text, limit):
    """Yields (first line, length, signature) of each function over limit."""
    code = strip_preprocessor(blank_literals(text))
    scopes = []  # per open brace: (kind, line, signature)
    statement = []
    line = 1
    for c in code:
        if c == "\n":
            line += 1
            statement.append(" ")
            continue
        if c == ";":
            statement = []
            continue
        if c == "{":
            stmt = "".join(statement).strip()
            outer = scopes[-1][0] if scopes else "namespace"
            if outer in ("namespace", "class"):
                if NAMESPACE_LIKE.match(stmt) or stmt == "":
                    kind = "namespace"
                elif SCOPE_KEYWORDS.match(stmt) and ")" not in stmt.split("{")[0]:
                    kind = "class"
                elif "(" in stmt and ")" in stmt and not AGGREGATE.search(stmt):
                    kind = "function"
                else:
                    kind = "other"
            else:
                kind = "other"
            scopes.append((kind, line, " ".join(stmt.split())))
            statement = []
            continue
        if c == "}":
            if scopes:
                kind, start, signature = scopes.pop()
                if kind == "function" and line - start + 1 > limit:
                    yield start, line - start + 1, signature
            statement = []
            continue
        statement.append(c)


def source_files(paths):
    for path in paths:
        if os.path.isfile(path):
            yield path
            continue
        for root, dirs, files in os.walk(path):
            dirs[:] = sorted(
                d for d in dirs if d not in ("node_modules", "build") and not d.startswith(".")
            )
            for name in sorted(files):
                if name.endswith(SOURCE_SUFFIXES):
                    yield os.path.join(root, name)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--max", type=int, default=60, help="most lines a function may take")
    parser.add_argument("paths", nargs="+")
    args = parser.parse_args(argv)
    found = 0
    for path in source_files(args.paths):
        try:
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
        except OSError as e:
            print(f"{path}: cannot read: {e.strerror}", file=sys.stderr)
            return 2
        for start, length, signature in long_functions(text, args.max):
            found += 1
            print(f"{path}:{start}: {length} lines (limit {args.max}): {signature[:100]}")
    if found:
        print(f"{found} function(s) over {args.max} lines", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
