#!/usr/bin/env python3
"""Lists the C++ functions longer than a limit; exits 1 when there is one.

Usage: tools/function-lengths.py [--limit N] [PATH ...]

  --limit N   the longest a function may be, in lines from its opening brace to its
              closing one (default 80)
  PATH        files or folders to check (default: the whole tree)

Only files git tracks are read (*.cpp, *.h), so build trees and untracked files never
count. It counts braces, not C++: a block is a function when the text before its opening
brace ends a signature (a closing parenthesis, a lambda's capture list) within a few
lines. Types, namespaces, data tables (`constexpr std::array kX{`, `= {`, `{{`) and the
blocks of if/for/while/switch inside a function are not functions: their lines count
for the function that holds them. Run it from the root of the checkout.
"""

import argparse
import re
import subprocess
import sys

# How many lines above the opening brace a signature may start (wrapped parameters).
SIGNATURE_LINES = 3

TYPE_OR_SCOPE = re.compile(r"^\s*(template\s*<.*>\s*)?(namespace|struct|class|enum|union)\b")
# The text before the brace of an initializer: `= {`, `kX{`, `{{`, `({`, `, {`, `return {`.
DATA_TABLE = re.compile(r"(=\s*|\w|\{\s*|\(\s*|,\s*|\breturn\s*)\{$|^\s*\{$")
CONTROL = re.compile(r"^\s*(\}\s*)?(if|else|for|while|switch|do|try|catch|case|default)\b")
LAMBDA = re.compile(r"\]\s*(mutable\s*)?\{$")


def digit_separator(line, i):
    """Whether the quote at i separates the digits of a number (1'000), which starts no
    character literal."""
    start = i
    while start > 0 and (line[start - 1].isalnum() or line[start - 1] in "_.'"):
        start -= 1
    return start < i and line[start].isdigit()


def strip_line(line, in_comment):
    """The line without comments, strings and character literals; whether a /* */
    comment is still open at its end."""
    out = []
    i = 0
    while i < len(line):
        if in_comment:
            end = line.find("*/", i)
            if end < 0:
                return "".join(out), True
            i = end + 2
            in_comment = False
            continue
        c = line[i]
        if line.startswith("//", i):
            break
        if line.startswith("/*", i):
            in_comment = True
            i += 2
            continue
        if c == "'" and digit_separator(line, i):
            out.append(c)
            i += 1
            continue
        if c in "\"'":
            j = i + 1
            while j < len(line) and line[j] != c:
                j += 2 if line[j] == "\\" else 1
            out.append(c + c)
            i = j + 1
            continue
        out.append(c)
        i += 1
    return "".join(out), in_comment


def is_function(lines, n, before):
    """Whether the brace on line n, with `before` the stripped text in front of it on
    that line, opens a function body."""
    head = before.rstrip()
    opening = before + "{"
    if TYPE_OR_SCOPE.match(head) or CONTROL.match(head):
        return False
    if LAMBDA.search(opening):
        return True
    if head == "" or DATA_TABLE.search(opening):
        return False
    signature = " ".join(lines[max(0, n - SIGNATURE_LINES) : n] + [head])
    return ")" in signature


def signature_start(lines, n):
    """The line where the signature that ends on line n begins."""
    first = n
    while first > max(0, n - SIGNATURE_LINES):
        above = lines[first - 1].strip()
        if above == "" or above.endswith((";", "{", "}", ":")) or above.startswith("#"):
            break
        first -= 1
    return first


def long_functions(path, limit):
    with open(path, encoding="utf-8", errors="replace") as f:
        raw = f.read().split("\n")
    lines = []
    in_comment = False
    for line in raw:
        stripped, in_comment = strip_line(line, in_comment)
        lines.append(stripped)
    found = []
    stack = []  # (line, is function)
    for n, line in enumerate(lines):
        for col, c in enumerate(line):
            if c == "{":
                stack.append((n, is_function(lines, n, line[:col])))
            elif c == "}" and stack:
                start, function = stack.pop()
                length = n - start + 1
                if function and length > limit:
                    first = signature_start(lines, start)
                    found.append((length, path, first + 1, raw[first].strip()[:90]))
    return found


def tracked_sources(paths):
    files = subprocess.check_output(
        ["git", "ls-files", "--", *(paths or ["."])], text=True
    ).split("\n")
    return [
        f
        for f in files
        if f.endswith((".cpp", ".h")) and not re.match(r"build[^/]*/", f)
    ]


def main():
    parser = argparse.ArgumentParser(
        description="Lists the C++ functions longer than a limit."
    )
    parser.add_argument("--limit", type=int, default=80)
    parser.add_argument("paths", nargs="*")
    args = parser.parse_args()
    found = []
    for path in tracked_sources(args.paths):
        found.extend(long_functions(path, args.limit))
    found.sort(key=lambda f: (-f[0], f[1], f[2]))
    for length, path, line, opening in found:
        print(f"{path}:{line}: {length} lines: {opening}")
    if found:
        print(f"{len(found)} functions longer than {args.limit} lines", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
