#!/usr/bin/env python3
"""The function-length check finds exactly the functions over the limit in
code that holds the constructs that fool a naive brace counter: braces in
comments and literals, namespaces, classes, aggregate initialisers,
lambdas, and preprocessor lines.

Usage: function_length_test.py CHECKER
"""

import importlib.util
import sys


def body(lines):
    return "".join(f"  x += {i};\n" for i in range(lines))


def fixture():
    # A length counts the brace lines and the return: body(n) gives n + 3.
    return (
        "namespace outer {\n"
        "namespace {\n"
        "int Exactly(int x) {\n" + body(57) + "  return x;\n}\n"  # 60: allowed
        "int OneOver(int x) {\n" + body(58) + "  return x;\n}\n"  # 61: reported
        "}  // namespace\n"
        "const int kTable[] = {\n" + "".join(f"    {i},\n" for i in range(80)) + "};\n"
        "struct Holder {\n"
        "  int Inline(int x) const {\n" + body(69) + "    return x;\n  }\n"  # 72: reported
        "  int Short() const { return 1; }\n"
        "};\n"
        "int Tricky(int x) {\n"
        "  // a comment with } and { and }\n"
        '  const char* s = "}}}{";\n'
        "  char c = '}';\n"
        '  const char* raw = R"(\n}\n}\n)";\n'
        "#define BRACE }\n"
        "  auto f = [&](int y) {\n" + body(10) + "    return y;\n  };\n"
        "  return x + f(1) + c + (s != raw);\n"
        "}\n"  # about 24 lines, not reported; the lambda counts towards it
        "int Lambdas(int x) {\n"
        "  auto f = [&](int y) {\n" + body(60) + "    return y;\n  };\n"
        "  return f(x);\n}\n"  # 66: reported as one function
        "}  // namespace outer\n"
        'extern "C" {\n'
        "int CApi(int x) {\n" + body(61) + "  return x;\n}\n"  # 64: reported
        "}\n"
    )


def main(argv):
    spec = importlib.util.spec_from_file_location("checker", argv[1])
    checker = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(checker)
    found = [
        (sig.split("(")[0].split()[-1], n) for _, n, sig in checker.long_functions(fixture(), 60)
    ]
    wanted = [("OneOver", 61), ("Inline", 72), ("Lambdas", 66), ("CApi", 64)]
    if found != wanted:
        print(f"found {found}\nwanted {wanted}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
