#!/usr/bin/env python3
"""Figures of the project's structure, measured from the sources.

Usage: tools/architecture-figures.py [--check]

Prints how much of the core still reaches for the whole Context, the include arrows
between the core's folders (and the pairs that point both ways), parameter codes handled
outside their table, and what the command-line tool reads of the auto-calibration page.
With --check it exits 1 when a rule the project keeps is broken: no `case 0x..` outside
the parameter table, and no auto-calibration view state in the command-line tool.
"""
import re
import subprocess
import sys
from collections import defaultdict
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
PARAMETER_TABLE = "core/link/Parameter_Table.cpp"
ACB_VIEW_STATE = re.compile(r"HudButton_ACB_Start|ProgressBar_3D_ACB|HudLabel_3D_ACB_Prompt|acbView")


def tracked(*patterns):
    out = subprocess.check_output(["git", "ls-files", *patterns], cwd=ROOT, text=True)
    return [ROOT / p for p in out.split()]


def text(path):
    return path.read_text(encoding="utf-8", errors="replace")


def context_members():
    """Public data members of Context (everything declared before `private:`)."""
    body = text(ROOT / "core/Context.h")
    body = body[body.index("class Context {"):]
    public = body[body.index("public:"):body.index("private:")]
    members = []
    for line in public.splitlines():
        line = line.split("//")[0].strip()
        if not line.endswith(";") or "(" in line or line.startswith(("using", "friend")):
            continue
        members.append(line.rstrip(";").split()[-1].split("=")[0].strip())
    return members


def whole_context_functions():
    """Declarations in core headers other than the root's that take the whole Context."""
    counts = {}
    for header in tracked("core/*.h"):
        rel = header.relative_to(ROOT).as_posix()
        if rel == "core/Context.h":
            continue
        n = len(re.findall(r"\w+\s*\([^;{]*\bContext&", text(header)))
        if n:
            counts[rel] = n
    return counts


def folder_arrows():
    arrows = defaultdict(int)
    for source in tracked("core/*.h", "core/*.cpp"):
        parts = source.relative_to(ROOT).parts
        if len(parts) < 3:
            continue
        src = parts[1]
        for inc in re.findall(r'#include\s+"(\w+)/', text(source)):
            if inc != src and (ROOT / "core" / inc).is_dir():
                arrows[(src, inc)] += 1
    return arrows


def parameter_cases():
    found = []
    for source in tracked("core/*.cpp", "core/*.h", "ui/*.cpp", "cli/*.cpp"):
        rel = source.relative_to(ROOT).as_posix()
        if rel == PARAMETER_TABLE:
            continue
        for n, line in enumerate(text(source).splitlines(), 1):
            if re.search(r"\bcase 0x[0-9A-Fa-f]+", line):
                found.append(f"{rel}:{n}")
    return found


def tool_acb_view_state():
    found = []
    for source in tracked("cli/*.cpp", "cli/*.h"):
        for n, line in enumerate(text(source).splitlines(), 1):
            if ACB_VIEW_STATE.search(line):
                found.append(f"{source.relative_to(ROOT).as_posix()}:{n}")
    return found


def main():
    check = "--check" in sys.argv[1:]
    members = context_members()
    print(f"Context: {len(members)} public data members")
    functions = whole_context_functions()
    print(f"core headers besides the root's: {sum(functions.values())} declarations take the "
          f"whole Context, in {len(functions)} headers")
    arrows = folder_arrows()
    both = sorted({tuple(sorted(pair)) for pair in arrows if (pair[1], pair[0]) in arrows})
    print(f"core folders: {len(arrows)} include arrows, {len(both)} pairs point both ways")
    for a, b in both:
        print(f"  {a} <-> {b} ({arrows[(a, b)]} / {arrows[(b, a)]} includes)")
    cases = parameter_cases()
    print(f"case 0x.. outside the parameter table: {len(cases)}")
    acb = tool_acb_view_state()
    print(f"auto-calibration view state read by the command-line tool: {len(acb)}")
    broken = [*(f"parameter code handled outside the table: {c}" for c in cases),
              *(f"the command-line tool reads the page: {c}" for c in acb)]
    if check and broken:
        print("\n".join(broken), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
