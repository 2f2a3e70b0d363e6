"""Machines for the scripting tests.

Every machine is a fresh temporary folder, removed afterwards whatever the outcome:
- `demo` (one per test module): the demo farm with the object model registered in process
  (qvfarm demo, qvfarm register) and the tests' own class (skypytest.dll) registered beside it;
  the tests in this process call it through skyloom.
- `installed` (one per run): scripts/install-machine lays the build into it, with the demo farm;
  scripts run against it in their own processes (run_script), across the boundary to the QVCom
  service, which is stopped at the end.
"""

import os
import shutil
import subprocess
import sys
import tempfile

import pytest

BIN = os.environ["SKY_BUILD_BIN"]
SOURCE = os.environ["SKY_SOURCE_DIR"]
TEST_CLSID = "{7D3B0000-5A1C-4E2B-9C77-000000000020}"
TEST_PROGID = "SkyloomScriptTest.ScriptTest"


def tool(machine, name, *args, check=True, user=None):
    """Runs a program of the build on `machine`; its completed process."""
    env = dict(os.environ, SKYLOOM_MACHINE=machine)
    command = [os.path.join(BIN, name), *args]
    if user is not None:
        command = as_user(user) + command
    done = subprocess.run(command, env=env, capture_output=True, text=True, timeout=120)
    if check and done.returncode != 0:
        raise AssertionError(f"{name} {' '.join(args)}: {done.returncode}\n{done.stdout}{done.stderr}")
    return done


def as_user(uid):
    """The prefix that runs a command as the account `uid`, with the group of the same number."""
    return ["setpriv", f"--reuid={uid}", f"--regid={uid}", "--clear-groups"]


def register_test_class(machine):
    classes = "HKLM\\Software\\Classes"
    module = os.path.join(BIN, "testmodules", "skypytest.dll")
    tool(machine, "reg", "add", f"{classes}\\{TEST_PROGID}\\CLSID", "/ve", "/d", TEST_CLSID, "/f")
    tool(machine, "reg", "add", f"{classes}\\CLSID\\{TEST_CLSID}\\InprocServer32", "/ve", "/d",
         module, "/f")


def make_demo_machine():
    root = tempfile.mkdtemp(prefix="skyloom-python-")
    tool(root, "qvfarm", "demo")
    tool(root, "qvfarm", "register")
    register_test_class(root)
    return root


@pytest.fixture(scope="module")
def demo():
    """The demo farm registered in process; skyloom's calls go to it."""
    import skyloom

    root = make_demo_machine()
    before = os.environ.get("SKYLOOM_MACHINE")
    skyloom.machine(root)
    try:
        yield root
    finally:
        if before is None:
            os.environ.pop("SKYLOOM_MACHINE", None)
        else:
            os.environ["SKYLOOM_MACHINE"] = before
        shutil.rmtree(root, ignore_errors=True)


@pytest.fixture
def fresh_demo(demo):
    """The module's demo machine with the demo farm as `qvfarm demo` makes it."""
    tool(demo, "qvfarm", "demo")
    return demo


@pytest.fixture(scope="session")
def installed():
    """A machine installed by scripts/install-machine, with the demo farm; QVCom serves it."""
    base = tempfile.mkdtemp(prefix="skyloom-python-installed-")
    # Second accounts reach the machine through this folder.
    os.chmod(base, 0o755)
    root = os.path.join(base, "machine")
    try:
        subprocess.run([os.path.join(SOURCE, "scripts", "install-machine"), "--machine", root,
                        "--bin", BIN], check=True, capture_output=True, text=True, timeout=300)
        tool(root, "qvfarm", "demo")
        yield root
    finally:
        tool(root, "sc", "stop", "QVCom", check=False)
        shutil.rmtree(base, ignore_errors=True)


def installed_package(machine):
    """Where scripts/install-machine lays the package in `machine`."""
    return os.path.join(machine, "drive_c", "Program Files", "Vantor", "BraskAdmin", "python")


def run_script(machine, code, user=None, cwd=None):
    """Runs Python `code` in a process of its own on `machine` (as the account `user`, when
    given), with the package the machine has installed; its completed process."""
    env = dict(os.environ, PYTHONPATH=installed_package(machine))
    env.pop("SKYLOOM_MACHINE", None)  # the installed package knows its machine
    # -P: not the current folder first on the path, which may hold the build's own package.
    command = [sys.executable, "-P", "-c", code]
    if user is not None:
        command = as_user(user) + command
        env["HOME"] = cwd or "/"
    return subprocess.run(command, env=env, capture_output=True, text=True, timeout=120, cwd=cwd)


def unused_account(start):
    """An id from `start` on that names neither a user nor a group."""
    import grp
    import pwd

    uid = start
    while True:
        try:
            pwd.getpwuid(uid)
        except KeyError:
            try:
                grp.getgrgid(uid)
            except KeyError:
                return uid
        uid += 1
