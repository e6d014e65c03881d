#!/usr/bin/env python3
"""scripts/format-tokens-same: what a change of layout may and may not do."""
import importlib.machinery
import importlib.util
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, '..', '..', 'scripts', 'format-tokens-same')
loader = importlib.machinery.SourceFileLoader('format_tokens_same', SCRIPT)
loaded = importlib.util.spec_from_loader('format_tokens_same', loader)
tokens_same = importlib.util.module_from_spec(loaded)
loader.exec_module(tokens_same)

# Pairs of versions of a C++ file that differ only in layout.
SAME = [
    ('spaces around operators', 'int a=b+c;', 'int a = b + c;\n'),
    ('a body split over lines', 'int f() { return 1; }', 'int f()\n{\n    return 1;\n}\n'),
    ('a comment rewrapped', '// one  two\n// three\nx;', '//one two\n    // three\nx;'),
    ('a block comment reindented', '/* a\n   b */ x;', '/* a\n b */\nx;'),
    ('a macro continuation moved', '#define M(a) \\\n  (a)\n', '#define M(a)   \\\n    (a)\n'),
    ('a raw string moved', 'f(R"x(a  b)x");', 'f(\n    R"x(a  b)x");'),
    ('a digit separator', "int n=1'000;", "int n = 1'000;"),
    ('prefixed literals', 'a=u8"s";b=L\'c\';', 'a = u8"s";\nb = L\'c\';'),
]

# Pairs that a formatter must never produce.
DIFFERENT = [
    ('a minus sign joined to another', 'a - -b;', 'a --b;'),
    ('shifts split', 'a >> b;', 'a > > b;'),
    ('whitespace inside a string', 'f("a b");', 'f("a  b");'),
    ('whitespace inside a raw string', 'f(R"(a b)");', 'f(R"(a  b)");'),
    ('whitespace inside a character literal', "c = ' ';", "c = '\\t';"),
    ('includes sorted', '#include <b.h>\n#include <a.h>\n', '#include <a.h>\n#include <b.h>\n'),
    ('a word of a comment changed', '// keep this\nx;', '// keep that\nx;'),
    ('a comment added', 'x;', 'x; // why\n'),
    ('a token removed', 'f(a, b);', 'f(a b);'),
    ('a number changed', 'x = 1.5e+3;', 'x = 1.5e+4;'),
]


class TokensSame(unittest.TestCase):
    def test_layout_alone_passes(self):
        for what, old, new in SAME:
            with self.subTest(what):
                self.assertIsNone(tokens_same.compare('f.cpp', old.encode(), new.encode()))

    def test_any_other_change_fails(self):
        for what, old, new in DIFFERENT:
            with self.subTest(what):
                self.assertIsNotNone(tokens_same.compare('f.cpp', old.encode(), new.encode()))

    def test_files_that_are_not_sources_must_not_change(self):
        self.assertIsNone(tokens_same.compare('notes.md', b'a b', b'a b'))
        self.assertIsNotNone(tokens_same.compare('notes.md', b'a b', b'a  b'))
        self.assertIsNotNone(tokens_same.compare('f.h', None, b'x;'))
        self.assertIsNotNone(tokens_same.compare('f.h', b'x;', None))

    def test_an_unterminated_literal_fails(self):
        self.assertIsNotNone(tokens_same.compare('f.c', b'f("a);', b'f("a);'))


if __name__ == '__main__':
    sys.argv[1:] = []
    unittest.main(verbosity=1)
