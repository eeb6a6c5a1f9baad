"""The text forms of icdhost's command language: quoting words, reading the values it prints, and
making output comparable across runs."""

import re
from typing import List, Tuple, Union

Value = Union[bool, int, float, str, None]

_ADDRESS = re.compile(r"0x[0-9a-fA-F]+")
_IDENTIFIER = re.compile(r"proxyplugin#([0-9]+)@[0-9A-F]+")
# A handler key is an address as 16 lower-case hexadecimal digits; one with no letter is taken for
# a number.
_HANDLER_KEY = re.compile(r"\b(?=[0-9]*[a-f])[0-9a-f]{16}\b")
_INTEGER = re.compile(r"[+-]?[0-9]+")
_NUMBER = re.compile(r"[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?|[+-]?(nan|inf)")


def normalise(line: str) -> str:
    """The line with what changes from run to run replaced: addresses by ``0xADDR``, script
    identifiers by ``proxyplugin#N@ID`` and handler keys by ``HANDLERKEY``."""
    line = _ADDRESS.sub("0xADDR", line)
    line = _IDENTIFIER.sub(r"proxyplugin#\1@ID", line)
    return _HANDLER_KEY.sub("HANDLERKEY", line)


def quote(text: str) -> str:
    """One word of the command language holding exactly ``text``."""
    escaped = text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n")
    return '"' + escaped + '"'


def word(value: Value) -> str:
    """A value as a command word: booleans ``true``/``false``, numbers as Python writes them,
    ``None`` as ``-`` (a cancelled answer), any text quoted."""
    if value is None:
        return "-"
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, (int, float)):
        return repr(value)
    return quote(str(value))


def read_quoted(text: str, start: int) -> Tuple[str, int]:
    """Reads the quoted text beginning at ``text[start]`` (a double quote); gives the text and the
    index after its closing quote."""
    result: List[str] = []
    index = start + 1
    while index < len(text):
        char = text[index]
        if char == '"':
            return "".join(result), index + 1
        if char == "\\" and index + 1 < len(text):
            following = text[index + 1]
            result.append({"n": "\n", '"': '"', "\\": "\\"}.get(following, "\\" + following))
            index += 2
            continue
        result.append(char)
        index += 1
    raise ValueError("unterminated quoted text in %r" % text)


def read_value(text: str) -> Value:
    """A value as icdhost prints it: a quoted text, ``true``/``false``, ``None``, an integer or a
    floating-point number; any other text as it is."""
    if text.startswith('"'):
        value, end = read_quoted(text, 0)
        if end == len(text):
            return value
    if text in ("true", "false"):
        return text == "true"
    if text == "None":
        return None
    if _INTEGER.fullmatch(text):
        return int(text)
    if _NUMBER.fullmatch(text):
        return float(text)
    return text


def split_value(text: str) -> Tuple[str, str]:
    """Splits ``text`` into the printed value at its start (a quoted text is taken whole, blanks
    and all) and what follows it after one blank."""
    if text.startswith('"'):
        _, end = read_quoted(text, 0)
    else:
        end = text.find(" ")
        end = len(text) if end < 0 else end
    return text[:end], text[end + 1:]

