#!/usr/bin/env python3
"""IDL generator: turns an automation library's IDL into C++.

    pgxidl.py LIBRARY.idl --header OUT_idl.h --source OUT_idl.cpp --client OUT_client.h --include PATH/OUT_idl.h

--header: what a server implements (GUIDs, enumerations, records, interfaces); --source: the type-library tables
and the glue to the C++ members; --client: the client wrappers that call by DISPID and throw com_error. The
source and the client header include the header as --include says.

The stages: idl_lexer (tokens), idl_parser (the declarations as written, idl_parsed), idl_checker (the checked
model, idl_checked), and one emitter per output file (emit_header, emit_tables, emit_client).

A file with a mistake gives "file:line:column: error: ..." on stderr, exit status 1, and no output file.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from emit_client import client  # noqa: E402
from emit_header import header  # noqa: E402
from emit_tables import tables  # noqa: E402
from idl_checker import check  # noqa: E402
from idl_lexer import IdlError  # noqa: E402
from idl_parser import parse_file  # noqa: E402


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
    ap.add_argument("--header", help="generated header to write (<stem>_idl.h)")
    ap.add_argument("--source", help="generated table source to write (<stem>_idl.cpp)")
    ap.add_argument("--client", help="generated client wrapper header to write (<stem>_client.h)")
    ap.add_argument("--include", help="how the source and the client header include the header (default: the "
                                      "header's file name)")
    args = ap.parse_args(argv)
    try:
        lib = check(parse_file(args.idl))
    except IdlError as e:
        print(str(e), file=sys.stderr)
        return 1
    except OSError as e:
        print(f"{args.idl}: error: {e.strerror}", file=sys.stderr)
        return 1
    source_name = os.path.basename(args.idl)
    include = args.include or os.path.basename(args.header or "")
    if args.header:
        write_if_changed(args.header, header(lib, source_name))
    if args.source:
        write_if_changed(args.source, tables(lib, source_name, include))
    if args.client:
        write_if_changed(args.client, client(lib, source_name, include))
    return 0


if __name__ == "__main__":
    sys.exit(main())
