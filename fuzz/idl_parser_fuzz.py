#!/usr/bin/env python3
"""A fuzz loop for the IDL generator (lexer, parser, checker and the three emitters), which is Python and so out
of libFuzzer's reach: every file of the corpus first, then mutations of them (spans deleted, duplicated or
moved, IDL tokens and odd numbers inserted, characters changed, deep nesting) until the time is up.

A file may be refused only with an IdlError ("file:line:column: error: ..."); any other exception, a hang or a
checker that changes the parsed declarations is a finding. Each finding is written to the output folder with
its traceback, and the exit status is 1.

    idl_parser_fuzz.py --corpus fuzz/corpus/idl_parser --out build/fuzz/fuzz-runs/idl_parser --seconds 60
"""

import argparse
import hashlib
import os
import random
import signal
import sys
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "automation", "idl"))

from emit_client import client  # noqa: E402
from emit_header import header  # noqa: E402
from emit_tables import tables  # noqa: E402
from idl_checker import check  # noqa: E402
from idl_lexer import IdlError  # noqa: E402
from idl_parser import parse_text  # noqa: E402

# Tokens worth inserting: the language's keywords, attributes, types and punctuation, and numbers at the edges.
TOKENS = [
    "library", "interface", "dispinterface", "coclass", "typedef", "enum", "struct", "import", "importlib",
    "properties:", "methods:", "[", "]", "(", ")", "{", "}", ";", ",", ":", "*", "=", "-", "<<", "|", "~",
    "id(", "propget", "propput", "propputref", "in", "out", "retval", "optional", "defaultvalue(", "uuid(",
    "version(", "helpstring(", "hidden", "restricted", "dual", "oleautomation", "nonextensible", "default",
    "source", "object", "lcid", "vararg", "SAFEARRAY(", "VARIANT", "BSTR", "long", "short", "double", "float",
    "unsigned", "char", "VARIANT_BOOL", "IDispatch", "IUnknown", "HRESULT", "void", "0x7FFFFFFF", "0x80000000",
    "-2147483649", "4294967296", "1e309", "1.5", "0", "-1", '""', '"\\"x"', "'", "/*", "*/", "//",
    "6A3C1F20-5B7D-4E2A-9C11-2F0B7D1E4A99", "TRUE", "FALSE", "VARIANT_TRUE",
]


class Hang(Exception):
    pass


def on_alarm(signum, frame):
    raise Hang()


def generate(text: str):
    """Runs the generator on one file; returns None or a description of what went wrong."""
    try:
        parsed = parse_text("fuzz.idl", text)
        before = repr(parsed)
        lib = check(parsed)
        if repr(parsed) != before:
            return "the checker changed the parsed declarations"
        header(lib, "fuzz.idl")
        tables(lib, "fuzz.idl", "fuzz_idl.h")
        client(lib, "fuzz.idl", "fuzz_idl.h")
    except IdlError as e:
        if not str(e).startswith("fuzz.idl:"):
            return f"an IdlError that does not name the file: {e}"
    except Hang:
        raise
    except Exception:  # noqa: BLE001 - any other exception is what the loop looks for
        return traceback.format_exc()
    return None


def mutate(rng: random.Random, text: str, corpus) -> str:
    for _ in range(rng.randint(1, 4)):
        n = len(text)
        a = rng.randrange(n + 1)
        b = min(n, a + rng.randint(0, 40))
        kind = rng.randrange(8)
        if kind == 0:
            text = text[:a] + text[b:]
        elif kind == 1:
            text = text[:a] + text[a:b] * rng.randint(2, 4) + text[a:]
        elif kind == 2:
            text = text[:a] + " " + rng.choice(TOKENS) + " " + text[a:]
        elif kind == 3 and n:
            text = text[:a] + chr(rng.choice([0, 9, 10, 34, 92, 0xE9, 0x2028, rng.randrange(32, 127)])) + text[a + 1:]
        elif kind == 4:
            other = rng.choice(corpus)
            c = rng.randrange(len(other) + 1)
            text = text[:a] + other[c:c + rng.randint(1, 200)] + text[b:]
        elif kind == 5:
            depth = rng.choice([8, 100, 2000])
            opener = rng.choice(["(", "[", "{", "SAFEARRAY(", "-"])
            closer = {"(": ")", "[": "]", "{": "}", "SAFEARRAY(": ")", "-": ""}[opener]
            text = text[:a] + opener * depth + "1" + closer * depth + text[a:]
        elif kind == 6:
            lines = text.split("\n")
            if len(lines) > 2:
                i, j = rng.randrange(len(lines)), rng.randrange(len(lines))
                lines[i], lines[j] = lines[j], lines[i]
                text = "\n".join(lines)
        else:
            text = text[:a]
    return text


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--corpus", required=True)
    ap.add_argument("--out", required=True, help="folder for findings")
    ap.add_argument("--seconds", type=float, default=60)
    ap.add_argument("--seed", type=int, default=None)
    ap.add_argument("--timeout", type=int, default=10, help="seconds one file may take")
    args = ap.parse_args()

    corpus = []
    for name in sorted(os.listdir(args.corpus)):
        with open(os.path.join(args.corpus, name), encoding="utf-8", errors="surrogateescape") as f:
            corpus.append(f.read())
    if not corpus:
        print("idl_parser_fuzz: the corpus is empty", file=sys.stderr)
        return 2
    os.makedirs(args.out, exist_ok=True)
    rng = random.Random(args.seed)
    signal.signal(signal.SIGALRM, on_alarm)

    findings = 0
    runs = 0
    start = time.monotonic()
    queue = list(corpus)
    while True:
        if queue:
            text = queue.pop(0)
        elif time.monotonic() - start >= args.seconds:
            break
        else:
            text = mutate(rng, rng.choice(corpus), corpus)
        runs += 1
        signal.alarm(args.timeout)
        try:
            problem = generate(text)
        except Hang:
            problem = f"took longer than {args.timeout} s"
        finally:
            signal.alarm(0)
        if problem:
            findings += 1
            digest = hashlib.sha1(text.encode("utf-8", "surrogateescape")).hexdigest()[:16]
            path = os.path.join(args.out, f"finding-{digest}.idl")
            with open(path, "w", encoding="utf-8", errors="surrogateescape") as f:
                f.write(text)
            with open(path + ".txt", "w", encoding="utf-8") as f:
                f.write(problem)
            print(f"idl_parser_fuzz: finding in {path}:\n{problem}", file=sys.stderr)
    elapsed = max(time.monotonic() - start, 1e-9)
    print(f"idl_parser_fuzz: {runs} runs in {elapsed:.0f} s ({runs / elapsed:.0f}/s), {findings} findings")
    return 1 if findings else 0


if __name__ == "__main__":
    sys.exit(main())
