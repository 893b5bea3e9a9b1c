#!/usr/bin/env python3
"""Lists the C++ functions longer than a limit, longest first.

    scripts/long-functions.py [--over N] [PATH...]

PATH: files or folders (default: every C++ file git tracks outside tests/). A function's length
is counted from the first line of its declaration (template line included) to its closing
brace, both included; lambdas and local classes count as part of the function they stand in.
N: 60 by default. The last line gives the count.

A brace-matching pass over the text with comments, strings and preprocessor lines blanked: no
compiler needed, so the Win32 and GTK files are read on any machine. It knows the shapes this
code base writes (namespaces, classes, constructors with initialiser lists, operators); an
unusual shape may be missed, never miscounted by more than its own lines.
"""

import argparse
import os
import re
import subprocess
import sys

SOURCE_ENDINGS = (".cpp", ".cc", ".c", ".h", ".hpp")


def blank(text):
    """Comments, string and character literals and preprocessor lines become spaces; line
    breaks stay, so positions keep their line numbers."""
    out = []
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c == "#":
            # A preprocessor line, with its continuations.
            while i < n and text[i] != "\n":
                if text[i] == "\\" and i + 1 < n and text[i + 1] == "\n":
                    out.append(" \n")
                    i += 2
                    continue
                out.append(" ")
                i += 1
            continue
        if c == "/" and text.startswith("//", i):
            while i < n and text[i] != "\n":
                out.append(" ")
                i += 1
            continue
        if c == "/" and text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append(re.sub(r"[^\n]", " ", text[i:end]))
            i = end
            continue
        if c == "R" and text.startswith('R"', i):
            m = re.match(r'R"([^(]*)\(', text[i:])
            if m:
                close = ")" + m.group(1) + '"'
                end = text.find(close, i + len(m.group(0)))
                end = n if end < 0 else end + len(close)
                out.append(re.sub(r"[^\n]", " ", text[i:end]))
                i = end
                continue
        if c in "\"'":
            # A digit separator (1'000) is not a character literal.
            if c == "'" and i > 0 and text[i - 1].isalnum() and i + 1 < n and text[i + 1].isalnum():
                out.append(" ")
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(c + " " * (min(j, n) - i - 1) + (c if j < n else ""))
            i = j + 1
            continue
        out.append(c)
        if c == "\n":
            line_start = True
        elif not c.isspace():
            line_start = False
        i += 1
    return "".join(out)


ACCESS = re.compile(r"^\s*(public|private|protected)\s*:(?!:)")
SCOPE_HEAD = re.compile(r"\b(namespace|extern)\b")
CLASS_HEAD = re.compile(r"\b(class|struct|union)\b")
ENUM_HEAD = re.compile(r"\benum\b")


def top_level_equals(head):
    """An '=' outside parentheses and brackets that is not part of an operator's name or a
    comparison: the head is an initialisation, not a function."""
    depth = 0
    for k, ch in enumerate(head):
        if ch in "([":
            depth += 1
        elif ch in ")]":
            depth -= 1
        elif ch == "=" and depth == 0:
            before = head[:k].rstrip()
            after = head[k + 1:k + 2]
            if before.endswith(("operator", "=", "!", "<", ">")) or after == "=":
                continue
            return True
    return False


def has_params(head):
    return "(" in head and ")" in head


def ctor_init_list(head):
    """True when a ')' is followed by a single ':' (a constructor's initialiser list)."""
    close = head.rfind(")")
    return close >= 0 and re.search(r"\)[^:;{}]*?(?<!:):(?!:)", head) is not None


def functions(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        text = blank(f.read())
    line_of = []
    line = 1
    for ch in text:
        line_of.append(line)
        if ch == "\n":
            line += 1
    found = []
    # Each open brace: (kind, head start, name). kind: scope, class, body, block.
    stack = []
    head_start = 0
    i, n = 0, len(text)

    def in_body():
        return any(kind == "body" for kind, _, _ in stack)

    while i < n:
        ch = text[i]
        if ch == "{":
            if in_body():
                stack.append(("block", i, None))
            else:
                head = text[head_start:i]
                stripped = ACCESS.sub("", head)
                offset = len(head) - len(stripped)
                prev = text[:i].rstrip()[-1:] if text[:i].strip() else ""
                if ctor_init_list(head) and (prev.isalnum() or prev == "_" or prev == ">"):
                    # A member's brace initialiser in a constructor's list: part of the head.
                    depth = 1
                    j = i + 1
                    while j < n and depth:
                        depth += {"{": 1, "}": -1}.get(text[j], 0)
                        j += 1
                    i = j
                    continue
                if SCOPE_HEAD.search(stripped) and not has_params(stripped):
                    stack.append(("scope", i, None))
                elif ENUM_HEAD.search(stripped) and not has_params(stripped):
                    stack.append(("block", i, None))
                elif CLASS_HEAD.search(stripped) and not has_params(stripped) and \
                        not top_level_equals(stripped):
                    stack.append(("class", i, None))
                elif has_params(stripped) and not top_level_equals(stripped):
                    start = head_start + offset + (len(stripped) - len(stripped.lstrip()))
                    name = stripped[: stripped.find("(")].split()
                    name = name[-1] if name else "?"
                    if name.startswith(("TEST", "INSTANTIATE")):
                        name = " ".join(stripped[: stripped.find(")") + 1].split())
                    stack.append(("body", start, name))
                else:
                    stack.append(("block", i, None))
            head_start = i + 1
        elif ch == "}":
            if stack:
                kind, start, name = stack.pop()
                if kind == "body":
                    found.append((line_of[i] - line_of[start] + 1, line_of[start], name))
            head_start = i + 1
        elif ch == ";":
            if not in_body():
                head_start = i + 1
        i += 1
    return found


def tracked_sources():
    files = subprocess.run(["git", "ls-files"], capture_output=True, text=True, check=True)
    return [p for p in files.stdout.split() if p.endswith(SOURCE_ENDINGS) and
            not p.startswith("tests/")]


def expand(paths):
    for p in paths:
        if os.path.isdir(p):
            for root, _, names in os.walk(p):
                for name in sorted(names):
                    if name.endswith(SOURCE_ENDINGS):
                        yield os.path.join(root, name)
        else:
            yield p


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--over", type=int, default=60, help="the limit in lines (default 60)")
    parser.add_argument("paths", nargs="*")
    args = parser.parse_args()
    if not args.paths:
        os.chdir(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    paths = list(expand(args.paths)) if args.paths else tracked_sources()
    rows = []
    for path in paths:
        for length, line, name in functions(path):
            if length > args.over:
                rows.append((length, path, line, name))
    rows.sort(key=lambda r: (-r[0], r[1], r[2]))
    for length, path, line, name in rows:
        print(f"{length:5d}  {path}:{line}  {name}")
    print(f"{len(rows)} function(s) over {args.over} lines in {len(paths)} file(s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
