"""Scripting a Skyloom farm: the farm's automation object model, late-bound.

    import skyloom
    farm = skyloom.farm()                      # SkyloomCOM.SkyloomFarm, bound to the farm
    for app in farm.Applications:
        print(app.DistinguishedName)

docs/scripting.md tells the whole of it: the machine, the type mapping, errors, threads, rights.
"""

import argparse as _argparse
import os as _os

from skyloom._errors import AccessDenied, ComError
from skyloom import _skyloom
from skyloom._skyloom import Dispatch, Object

__all__ = ["AccessDenied", "ArgumentParser", "ComError", "Dispatch", "Object", "constants", "farm",
           "machine"]


class _Constants:
    """The constants of the object model's enumerations (SkyloomWinFarmObject, ...)."""

    def __init__(self, values):
        self.__dict__.update(values)

    def __repr__(self):
        return f"<skyloom.constants: {len(self.__dict__)} names>"


constants = _Constants(_skyloom._constants())


def _installed_machine():
    """The machine this package was laid into by scripts/install-machine, if any:
    <machine>/drive_c/Program Files/Vantor/BraskAdmin/python/skyloom."""
    here = _os.path.dirname(_os.path.abspath(__file__))
    marker = _os.sep + "drive_c" + _os.sep
    at = here.rfind(marker)
    return here[:at] if at > 0 else None


def machine(path=None):
    """The machine the calls go to: sets it when given a path (SKYLOOM_MACHINE), and returns
    it. Without SKYLOOM_MACHINE, a package installed into a machine uses that machine, else the
    machine the platform chooses: the system machine /var/lib/skyloom/machine for root and the
    members of its group, else the user's own ($XDG_DATA_HOME/skyloom/machine)."""
    if path is not None:
        _os.environ["SKYLOOM_MACHINE"] = _os.path.abspath(_os.fspath(path))
    current = _os.environ.get("SKYLOOM_MACHINE")
    if current:
        return current
    return _skyloom._default_machine()


if not _os.environ.get("SKYLOOM_MACHINE") and _installed_machine():
    _os.environ["SKYLOOM_MACHINE"] = _installed_machine()


def farm():
    """The farm object as BraskAdmin makes it: SkyloomCOM.SkyloomFarm, initialized with
    SkyloomWinFarmObject."""
    f = Dispatch("SkyloomCOM.SkyloomFarm")
    f.Initialize(constants.SkyloomWinFarmObject)
    return f


class ArgumentParser(_argparse.ArgumentParser):
    """argparse's parser with the option --machine that every script of the farm takes:
    parse_args() chooses the machine given (skyloom.machine)."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.add_argument("--machine", help="the machine (default: SKYLOOM_MACHINE, else the "
                          "machine the package is installed in, else the default machine)")

    def parse_known_args(self, *args, **kwargs):
        namespace, rest = super().parse_known_args(*args, **kwargs)
        if getattr(namespace, "machine", None):
            machine(namespace.machine)
        return namespace, rest
