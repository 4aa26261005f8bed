#!/usr/bin/env python3
"""IDL generator: turns an automation library's IDL into C++ declarations, type-library tables and client
wrappers.

    pgxidl.py LIBRARY.idl --header OUT.h --source OUT.cpp --include INCLUDE/PATH/OUT.h

A file that does not parse gives "file:line:column: error: ..." on stderr and exit status 1.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from idl_codegen import Generator  # noqa: E402
from idl_model import IdlError, load  # noqa: E402


def write_if_changed(path: str, text: str):
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    except OSError:
        pass
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(tmp, path)


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description="Generate C++ from an automation library's IDL.")
    ap.add_argument("idl")
    ap.add_argument("--header", help="generated header to write")
    ap.add_argument("--source", help="generated table source to write")
    ap.add_argument("--include", help="how the source includes the header (default: the header's file name)")
    args = ap.parse_args(argv)
    try:
        lib = load(args.idl)
    except IdlError as e:
        print(str(e), file=sys.stderr)
        return 1
    except OSError as e:
        print(f"{args.idl}: error: {e.strerror}", file=sys.stderr)
        return 1
    gen = Generator(lib, os.path.basename(args.idl))
    if args.header:
        write_if_changed(args.header, gen.header())
    if args.source:
        include = args.include or os.path.basename(args.header or "")
        write_if_changed(args.source, gen.source(include))
    return 0


if __name__ == "__main__":
    sys.exit(main())
