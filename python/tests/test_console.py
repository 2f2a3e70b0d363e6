"""The console (python3 -m skyloom), help() and dir() from the type information, and the typed
stubs written at build time."""

import ast
import os
import subprocess
import sys

import skyloom
from conftest import TEST_PROGID


def console(machine, *args, stdin=""):
    env = dict(os.environ)
    env.pop("SKYLOOM_MACHINE", None)
    return subprocess.run([sys.executable, "-m", "skyloom", *args], input=stdin, env=env,
                          capture_output=True, text=True, timeout=120)


def test_the_console_opens_the_farm_of_the_machine_given(demo):
    done = console(demo, "--machine", demo, stdin="print(farm.FarmName, SkyloomWinAppObject)\n")
    assert done.returncode == 0, done.stderr
    assert "Demo Farm 3" in done.stdout
    assert 'Skyloom farm "Demo Farm"' in done.stderr  # the banner
    done = console(demo, "--machine", demo, "-c", "print(len(farm.Applications) > 5)")
    assert done.stdout == "True\n"


def test_the_console_says_why_it_cannot_open_a_farm(tmp_path):
    done = console(str(tmp_path), "--machine", str(tmp_path), "-c", "pass")
    assert done.returncode == 1
    assert "cannot be opened" in done.stderr and "Invalid class string" in done.stderr
    assert console(str(tmp_path), "--help").stdout.startswith("usage: python3 -m skyloom")


def test_help_and_dir_come_from_the_type_information(demo):
    obj = skyloom.Dispatch(TEST_PROGID)
    text = obj.__doc__
    assert text.startswith("IScriptTest: Values both ways")
    assert "    Divide(a: int, b: int, remainder: int = ...) -> tuple[int, int]\n" \
           "        The quotient; the remainder as an out argument" in text
    assert "    Color: int (read-only)\n" in text
    assert "    Items: IScriptTestItems (read-only)\n" in text
    assert "    Add(a: int, b: int = ...) -> int\n" in text
    assert "_NewEnum" not in text
    assert set(dir(obj)) >= {"Echo", "Divide", "Twice", "Name", "Label", "Items", "Wait"}


def test_the_stubs_type_every_interface_of_the_library():
    stubs = os.path.join(os.path.dirname(skyloom.__file__), "__init__.pyi")
    with open(stubs, encoding="utf-8") as f:
        tree = ast.parse(f.read())
    classes = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}
    assert {"ISkyloomFarm6", "ISkyloomWinFarm6", "ISkyloomApplication5", "Object",
            "ComError", "AccessDenied"} <= set(classes)
    farm = {n.name if isinstance(n, ast.FunctionDef) else n.target.id: n
            for n in classes["ISkyloomFarm6"].body
            if isinstance(n, (ast.FunctionDef, ast.AnnAssign))}
    assert ast.unparse(farm["GetApplication"].returns) == "ISkyloomApplication"
    assert ast.unparse(farm["WinFarmObject"].returns) == "ISkyloomWinFarm"
    constants = {n.target.id for n in classes["_Constants"].body if isinstance(n, ast.AnnAssign)}
    assert constants == set(vars(skyloom.constants))
