#!/usr/bin/env python3
"""tools/function-lengths.py on small sources: what counts as a function, and how long."""

import pathlib
import runpy
import tempfile
import types
import unittest

TOOL = pathlib.Path(__file__).resolve().parents[2] / "tools" / "function-lengths.py"
# The tool's file name has a dash, so it is loaded by path; run under its own name, its
# main() does not run.
function_lengths = types.SimpleNamespace(**runpy.run_path(str(TOOL), run_name="function_lengths"))


def body(lines):
    return "".join(f"    x += {i};\n" for i in range(lines))


class LongFunctions(unittest.TestCase):
    def found(self, source, limit=10):
        with tempfile.NamedTemporaryFile("w", suffix=".cpp", delete=False) as f:
            f.write(source)
        path = pathlib.Path(f.name)
        try:
            return [(length, line) for length, _, line, _ in
                    function_lengths.long_functions(str(path), limit)]
        finally:
            path.unlink()

    def test_what_is_reported(self):
        cases = [
            # (what, source, [(length, first line of the signature)])
            ("a function at the limit", "void f() {\n" + body(8) + "}\n", []),
            ("one line over", "void f() {\n" + body(9) + "}\n", [(11, 1)]),
            ("a wrapped signature, a qualified member", "int A::f(int a,\n         int b) const {\n"
             + body(9) + "}\n", [(11, 1)]),
            ("a lambda", "auto g = [](int v) {\n" + body(9) + "};\n", [(11, 1)]),
            ("its switch is part of it, not a function of its own",
             "void f(int v) {\n    switch (v) {\n" + body(12) + "    }\n}\n", [(16, 1)]),
            ("a table at namespace scope", "constexpr std::array kX{\n" + body(20) + "};\n"
             "const int kY[] = {\n" + body(20) + "};\n", []),
            ("a table inside a function counts for the function",
             "void f() {\n    const Def defs[] = {\n" + body(3) + "    };\n    std::array t{{\n"
             + body(3) + "    }};\n}\n", [(12, 1)]),
            ("types and namespaces", "namespace n {\nclass C {\n  public:\n" + body(12)
             + "};\n} // namespace n\n", []),
            ("an access specifier is not part of the signature",
             "class C {\n  protected:\n    void SetUp() override {\n" + body(9) + "    }\n};\n",
             [(11, 3)]),
        ]
        for what, source, expected in cases:
            with self.subTest(what):
                self.assertEqual(self.found(source), expected)

    def test_braces_that_are_no_braces(self):
        # Each would close the function early, hiding its length, if it were counted.
        for what, line in [
            ("a string", '    s = "}}";\n'),
            ("a character", "    c = '}';\n"),
            ("a line comment", "    x = 1; // }}\n"),
            ("a block comment", "    /* }\n    } */\n"),
            ("a digit separator", "    x = 1'000; c = '{';\n"),
        ]:
            with self.subTest(what):
                length = 2 + line.count("\n") + 12
                self.assertEqual(self.found("void f() {\n" + line + body(12) + "}\n"), [(length, 1)])


if __name__ == "__main__":
    unittest.main()
