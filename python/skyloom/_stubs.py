"""Writes the package's typed stubs (skyloom/__init__.pyi) from the object model's type library:
python3 -m skyloom._stubs FILE. The build runs it after the extension is built."""

import sys

from skyloom import _skyloom

HEAD = '''# Generated from the object model's type library by skyloom._stubs at build time.
import datetime
import decimal
from typing import Any, Iterator

class ComError(OSError):
    hresult: int
    description: str
    source: str
    def __init__(self, hresult: int, description: str = ..., source: str = ...) -> None: ...

class AccessDenied(ComError, PermissionError): ...

class Object:
    """An automation object, late-bound: attributes are its properties, calls its methods."""
    def __getattr__(self, name: str) -> Any: ...
    def __setattr__(self, name: str, value: Any) -> None: ...
    def __call__(self, *args: Any) -> Any: ...
    def __iter__(self) -> Iterator[Any]: ...
    def __len__(self) -> int: ...

def Dispatch(progid: str) -> Object: ...
def machine(path: str | None = ...) -> str: ...
def farm() -> ISkyloomFarm6: ...

class _Constants:
'''


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: python3 -m skyloom._stubs FILE")
    text = HEAD
    for name, value in sorted(_skyloom._constants().items()):
        text += f"    {name}: int\n"
    text += "\nconstants: _Constants\n"
    text += _skyloom._stub_text()
    with open(sys.argv[1], "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
