#!/usr/bin/env python3
"""Lints the project's shell scripts for two ways of failing without a word.

1. Under `set -o pipefail` a pipeline fails when any stage dies. A reader that
   stops early (head, grep -q/-m/-l, awk ... exit, sed ... q, read) lets the
   writer before it die of SIGPIPE whenever that writer still had output to
   write, so the pipeline fails now and then (exit 141), with no message.
   Capture the whole output first (v=$(cmd); grep -q x <<<"$v"), or let the
   tool stop by itself (grep -m1 x FILE).
2. A script under errexit (set -e) that fails exits with a bare status. Each
   one names the failing step: an ERR trap, with errtrace (set -E) so that the
   trap holds inside functions too.

usage: check_scripts.py [TOP]   (default: the source tree above this file)
Looks at *.sh and shell-shebang files under scripts/, tests/, bench/, demo/, .ci/.
"""
import os
import re
import sys

DIRS = ("scripts", "tests", "bench", "demo", ".ci")


def shell_scripts(top):
    for d in DIRS:
        for root, dirs, files in os.walk(os.path.join(top, d)):
            dirs[:] = sorted(x for x in dirs if x != "corpus")
            for name in sorted(files):
                path = os.path.join(root, name)
                if name.endswith(".sh"):
                    yield path
                    continue
                try:
                    with open(path, "rb") as f:
                        first = f.readline(200)
                except OSError:
                    continue
                if re.match(rb"#!\s*\S*(/|env\s+)(ba)?sh\b", first):
                    yield path


def code_and_stages(text):
    """Returns (code, stages): the text without comments and here-document
    bodies, and every pipeline stage that reads from a pipe as (line, text).
    Knows quotes, $( ) and ( ) nesting, line continuations and here-documents;
    pipes inside quoted strings (bash -c '...') are not looked into."""
    code = []
    stages = []
    stack = ["cmd"]          # cmd, dq (double quotes), sq (single quotes)
    open_stage = {}          # depth of a cmd context -> index where its stage began
    heredocs = []            # delimiters whose bodies start at the next newline
    i, n = 0, len(text)

    def close(depth, end):
        start = open_stage.pop(depth, None)
        if start is not None:
            stages.append((text.count("\n", 0, start) + 1, text[start:end]))

    while i < n:
        c = text[i]
        top = stack[-1]
        if top == "sq":
            if c == "'":
                stack.pop()
            code.append(c)
            i += 1
            continue
        if top == "dq":
            if c == "\\":
                code.append(text[i:i + 2])
                i += 2
            elif c == '"':
                stack.pop()
                code.append(c)
                i += 1
            elif text.startswith("$(", i) and not text.startswith("$((", i):
                stack.append("cmd")
                code.append("$(")
                i += 2
            else:
                code.append(c)
                i += 1
            continue
        # Command context.
        depth = len(stack)
        if c == "\\":
            code.append(text[i:i + 2])
            i += 2
        elif c == "'":
            stack.append("sq")
            code.append(c)
            i += 1
        elif c == '"':
            stack.append("dq")
            code.append(c)
            i += 1
        elif c == "#" and (i == 0 or text[i - 1] in " \t\n;&|()"):
            while i < n and text[i] != "\n":
                i += 1
        elif text.startswith("<<<", i):
            code.append("<<<")
            i += 3
        elif text.startswith("<<", i):
            m = re.compile(r"<<(-?)\s*(['\"]?)(\w+)\2").match(text, i)
            if m:
                heredocs.append((m.group(3), m.group(1) == "-"))
                code.append(m.group(0))
                i = m.end()
            else:
                code.append("<<")
                i += 2
        elif c == "\n":
            close(depth, i)
            code.append(c)
            i += 1
            for word, strip_tabs in heredocs:
                while i < n:
                    eol = text.find("\n", i)
                    eol = n if eol < 0 else eol
                    line = text[i:eol]
                    i = eol + 1
                    if (line.lstrip("\t") if strip_tabs else line) == word:
                        break
            heredocs = []
        elif c == "|":
            if text.startswith("||", i):
                close(depth, i)
                code.append("||")
                i += 2
            else:
                close(depth, i)
                i += 2 if text.startswith("|&", i) else 1
                code.append("|")
                # A pipe at the end of a line continues on the next.
                m = re.compile(r"(\s|\\\n)*").match(text, i)
                code.append(m.group(0))
                i = m.end()
                open_stage[depth] = i
        elif c in ";&":
            close(depth, i)
            code.append(c)
            i += 1
        elif c == "(":
            stack.append("cmd")
            code.append(c)
            i += 1
        elif c == ")":
            close(depth, i)
            if len(stack) > 1:
                stack.pop()
            code.append(c)
            i += 1
        else:
            code.append(c)
            i += 1
    close(len(stack), n)
    return "".join(code), stages


ASSIGNMENT = re.compile(r"[A-Za-z_]\w*=\S*$")
GREP_EARLY = re.compile(r"(^|\s)(-[A-Za-z]*[qlLm]|--(quiet|silent|max-count|files-with-matches|files-without-match)\b)")
SED_QUIT = re.compile(r"(^|[\s'\";{}/$0-9])[qQ]([\s'\";}0-9]|$)")


def early_reader(stage):
    """Why the command of a pipeline stage may stop reading its input early, or None."""
    words = stage.replace("\\\n", " ").split()
    while words and (ASSIGNMENT.match(words[0]) or words[0] in ("!", "command", "exec")):
        words.pop(0)
    if not words:
        return None
    name = os.path.basename(words[0])
    rest = " ".join(words[1:])
    if name == "head":
        return "head stops after its lines"
    if name in ("grep", "egrep", "fgrep", "zgrep") and GREP_EARLY.search(rest):
        return "grep -q/-m/-l stops at a match"
    if name in ("awk", "gawk", "mawk", "nawk") and re.search(r"\bexit\b", rest):
        return "awk stops at exit"
    if name == "sed" and SED_QUIT.search(rest):
        return "sed stops at q"
    if name == "read":
        return "read takes one line"
    return None


# The lint on snippets first, so that a lint that finds nothing is not taken for clean scripts:
# (script text, the lines it must flag).
CASES = [
    ("pcsclib=$(ldconfig -p | awk '/libpcsclite.so.1 /{print $NF; exit}')\n", [1]),
    ('lib="$(find build -name x | head -1)"\n', [1]),
    ("nm -D x |\n  grep -qF needed || echo missing\n", [2]),
    ("dpkg-query -W p | grep -m1 ok\nls | sed 1q\nls | sed -n '/x/{p;q}'\n", [1, 2, 3]),
    ("ls |& IFS= read -r first\n", [1]),
    ("v=$(ldconfig -p)\nawk '/x/{print; exit}' <<<\"$v\"\n", []),
    ("grep -q x <<<\"$v\" || head -1 file\n", []),
    ("grep -E 'a|head' log\nls | grep -v x | sort | tail -1\nls | awk '{print $1}'\n", []),
    ("# ls | head\necho '| head' \"| grep -q\"\n", []),
    ("cat >f <<'EOF'\nls | head\nit's\nEOF\nls | sed 's/a/b/'\n", []),
]


def self_test():
    failures = []
    for text, want in CASES:
        _, stages = code_and_stages(text)
        got = [line for line, stage in stages if early_reader(stage)]
        if got != want:
            failures.append(f"check_scripts.py itself: {text!r} flags lines {got}, not {want}")
    return failures


def main():
    top = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    problems = self_test()
    count = 0
    for path in shell_scripts(top):
        count += 1
        rel = os.path.relpath(path, top)
        with open(path, encoding="utf-8") as f:
            code, stages = code_and_stages(f.read())
        if re.search(r"\bset\s+(-[A-Za-z]*\s+)*-o\s+pipefail\b|\bset\s+-[A-Za-z]*o\s+pipefail\b", code):
            for line, stage in stages:
                why = early_reader(stage)
                if why:
                    first = stage.strip().splitlines()[0] if stage.strip() else stage
                    problems.append(f"{rel}:{line}: under pipefail, '| {first.strip()}': {why}; "
                                    "the writer before it may die of SIGPIPE and fail the pipeline")
        errexit = re.search(r"^\s*set\s+-[A-Za-z]*e|\bset\s+-o\s+errexit\b", code, re.M)
        if errexit:
            if not re.search(r"^\s*trap\s.*\sERR\s*$", code, re.M):
                problems.append(f"{rel}: set -e without an ERR trap: a failing step exits with no word")
            if not re.search(r"^\s*set\s+-[A-Za-z]*E|\bset\s+-o\s+errtrace\b", code, re.M):
                problems.append(f"{rel}: set -e without set -E: the ERR trap does not hold inside functions")
    if count == 0:
        problems.append(f"no shell scripts found under {top}")
    for p in problems:
        print(p)
    if problems:
        return 1
    print(f"{count} shell scripts: no early reader under pipefail, every errexit script names its failing step")
    return 0


if __name__ == "__main__":
    sys.exit(main())
