"""Lexer of the interface definition language: tokens with their line and column, and the error every stage of
the generator reports (file:line:column: error: message)."""

import re
from dataclasses import dataclass
from typing import List


class IdlError(Exception):
    def __init__(self, path: str, line: int, col: int, message: str):
        super().__init__(f"{path}:{line}:{col}: error: {message}")
        self.path, self.line, self.col, self.message = path, line, col, message


@dataclass(frozen=True)
class Token:
    kind: str  # 'id', 'num', 'str', 'guid', 'punct', 'eof'
    text: str
    line: int
    col: int


_PUNCT = set("[](){};:,=*-+|<>~")
_GUID_RE = re.compile(r"[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}")
_NUMBER_RE = re.compile(r"0[xX][0-9A-Fa-f]+|(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?")
_ESCAPES = {"n": "\n", "t": "\t", "\\": "\\", '"': '"', "'": "'", "0": "\0", "r": "\r"}


def tokenize(path: str, text: str) -> List[Token]:
    tokens: List[Token] = []
    i, line, col, n = 0, 1, 1, len(text)

    def advance(count: int):
        nonlocal i, line, col
        for _ in range(count):
            if text[i] == "\n":
                line, col = line + 1, 1
            else:
                col += 1
            i += 1

    while i < n:
        c = text[i]
        if c in " \t\r\n\f":
            advance(1)
        elif text.startswith("//", i):
            while i < n and text[i] != "\n":
                advance(1)
        elif text.startswith("/*", i):
            start_line, start_col = line, col
            end = text.find("*/", i + 2)
            if end < 0:
                raise IdlError(path, start_line, start_col, "unterminated comment: expected '*/'")
            advance(end + 2 - i)
        elif c == "#":
            # Preprocessor lines (#include, #pragma) carry nothing the type library needs.
            while i < n and text[i] != "\n":
                advance(1)
        elif c == '"':
            start_line, start_col = line, col
            advance(1)
            out = []
            while True:
                if i >= n or text[i] == "\n":
                    raise IdlError(path, start_line, start_col, "unterminated string: expected '\"'")
                ch = text[i]
                if ch == "\\":
                    if i + 1 >= n:
                        raise IdlError(path, line, col, "unterminated string: expected '\"'")
                    esc = text[i + 1]
                    if esc not in _ESCAPES:
                        raise IdlError(path, line, col, f"unknown escape sequence '\\{esc}'")
                    out.append(_ESCAPES[esc])
                    advance(2)
                elif ch == '"':
                    advance(1)
                    break
                else:
                    out.append(ch)
                    advance(1)
            tokens.append(Token("str", "".join(out), start_line, start_col))
        elif (m := _GUID_RE.match(text, i)) and (i + 36 >= n or not (text[i + 36].isalnum() or text[i + 36] == "_")):
            tokens.append(Token("guid", m.group(0).upper(), line, col))
            advance(36)
        elif c.isdigit() or (c == "." and i + 1 < n and text[i + 1].isdigit()):
            m = _NUMBER_RE.match(text, i)
            j = m.end()
            while j < n and text[j] in "uUlL":
                j += 1
            tokens.append(Token("num", text[i:j], line, col))
            advance(j - i)
        elif c.isalpha() or c == "_":
            j = i
            while j < n and (text[j].isalnum() or text[j] == "_"):
                j += 1
            tokens.append(Token("id", text[i:j], line, col))
            advance(j - i)
        elif text.startswith("<<", i):
            tokens.append(Token("punct", "<<", line, col))
            advance(2)
        elif c in _PUNCT:
            tokens.append(Token("punct", c, line, col))
            advance(1)
        else:
            raise IdlError(path, line, col, f"unexpected character '{c}'")
    tokens.append(Token("eof", "", line, col))
    return tokens


def string_literal(s: str) -> str:
    """A double-quoted literal that reads back as `s`, in IDL as in C++."""
    out = ['"']
    for ch in s:
        if ch in '"\\':
            out.append("\\" + ch)
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\t":
            out.append("\\t")
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\0":
            out.append("\\0")
        elif ord(ch) < 32:
            out.append(f"\\x{ord(ch):02x}")
        else:
            out.append(ch)
    out.append('"')
    return "".join(out)
