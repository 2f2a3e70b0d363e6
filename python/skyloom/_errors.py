"""The errors of skyloom: a failed automation call, with its result code."""


class ComError(OSError):
    """An automation call failed: `hresult` (the 32-bit code, signed, as scripts print it),
    `description` and `source` (from the object's error information, else the system's text
    for the code)."""

    def __init__(self, hresult, description="", source=""):
        super().__init__(hresult, description)
        self.hresult = hresult
        self.description = description
        self.source = source

    def __str__(self):
        text = f"{self.description} (0x{self.hresult & 0xFFFFFFFF:08X})"
        return f"{self.source}: {text}" if self.source else text

    def __reduce__(self):
        return (type(self), (self.hresult, self.description, self.source))


class AccessDenied(ComError, PermissionError):
    """E_ACCESSDENIED (0x80070005): the caller may not do this (not an administrator of the
    farm, say)."""
