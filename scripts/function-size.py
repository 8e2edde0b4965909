#!/usr/bin/env python3
"""Fails when a C++ function is longer than a limit.

    scripts/function-size.py LIMIT DIR_OR_FILE...

A function's length is the number of lines from its opening brace to its
closing brace, both included, blank and comment lines too; a lambda counts
towards the function it is written in. The reading is lexical: comments,
literals and preprocessor lines are blanked out, and a brace opens a
function body where it follows a parameter list (with its qualifiers or a
constructor's initialisers) outside any other function. That is enough for
code in the project's layout (.clang-format), which is checked first.
"""
import re
import sys
from pathlib import Path

# Words that may stand between a parameter list and the body.
QUALIFIERS = {"const", "override", "final", "noexcept", "mutable", "try"}
SCOPE = re.compile(r"\s*(template\s*<.*>\s*)?(namespace|class|struct|union|enum|extern)\b", re.S)


def blank_out(text):
    """The text with comments, string and character literals and preprocessor
    lines turned into spaces; line breaks stay, so line numbers hold."""
    out = []
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c in " \t":
            out.append(c)
            i += 1
            continue
        if line_start and c == "#":
            while i < n and text[i] != "\n":
                continued = text[i] == "\\" and i + 1 < n and text[i + 1] == "\n"
                out.append(" \n" if continued else " ")
                i += 2 if continued else 1
            continue
        line_start = c == "\n"
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
        elif text.startswith('R"', i) and (i == 0 or not text[i - 1].isalnum()):
            delimiter = re.match(r'R"([^(]*)\(', text[i:]).group(1)
            end = text.find(")" + delimiter + '"', i) + len(delimiter) + 2
        elif c == '"' or (c == "'" and not (i > 0 and text[i - 1].isalnum())):
            # A ' after a letter or digit separates digits (1'000).
            end = i + 1
            while end < n and text[end] != c:
                end += 2 if text[end] == "\\" else 1
            end += 1
        else:
            out.append(c)
            i += 1
            continue
        out.append(re.sub(r"[^\n]", " ", text[i:end]))
        line_start = text[end - 1] == "\n" if end > i else line_start
        i = end
    return "".join(out)


def opens_body(head):
    """Whether a brace after this text (since the last statement) opens a
    function body."""
    before = head.rstrip()
    if SCOPE.match(head) or before.endswith("="):
        return False
    last = re.search(r"(\w+)$", before)
    return (before.endswith(")") or (last is not None and last.group(1) in QUALIFIERS) or
            (before.endswith("}") and re.search(r"\)\s*:", head) is not None))


def functions(text):
    """(name, first line, last line) of every function body that is not
    inside another function."""
    stack = []  # what each open brace opened: scope, function or other
    head = []  # the text since the last statement or scope boundary
    name, first, line = "?", 0, 1
    found = []
    for c in blank_out(text):
        line += c == "\n"
        inside = "function" in stack
        if c == "{":
            text_before = "".join(head)
            if inside:
                stack.append("other")
            elif opens_body(text_before):
                names = re.findall(r"(operator\s*\S+?|[~\w:]+)\s*\(([^()]*)", text_before)
                name, first = "?", line
                if names:
                    # A test is named by its macro's arguments.
                    word, arguments = names[0]
                    name = f"{word}({' '.join(arguments.split())})" if word.startswith("TEST") else word
                stack.append("function")
            elif SCOPE.match(text_before):
                stack.append("scope")
                head = []
            else:
                stack.append("other")
                head.append(c)
        elif c == "}" and stack:
            kind = stack.pop()
            if kind == "function" and "function" not in stack:
                found.append((name, first, line))
                head = []
            elif kind == "scope":
                head = []
            elif not inside:
                head.append(c)
        elif not inside and c == ";":
            head = []
        elif not inside:
            head.append(c)
    return found


def sources(arguments):
    for argument in arguments:
        path = Path(argument)
        if path.is_dir():
            yield from sorted(p for p in path.rglob("*") if p.suffix in (".cpp", ".h"))
        else:
            yield path


def main():
    if len(sys.argv) < 3 or not sys.argv[1].isdigit():
        sys.exit("usage: scripts/function-size.py LIMIT DIR_OR_FILE...")
    limit = int(sys.argv[1])
    files = list(sources(sys.argv[2:]))
    count, over = 0, 0
    for path in files:
        for function, first, last in functions(path.read_text(encoding="utf-8", errors="replace")):
            count += 1
            if last - first + 1 > limit:
                print(f"{path}:{first}: {function} is {last - first + 1} lines long, over {limit}")
                over += 1
    print(f"function size: {count} functions in {len(files)} files, {over} over {limit} lines")
    sys.exit(1 if over else 0)


if __name__ == "__main__":
    main()
