"""The scripts of docs/examples, run as an administrator runs them, against the demo farm (the
object model registered in process), each in a process of its own; what they print and change
is checked against the farm's dump and against BraskAdmin's own commands."""

import csv
import io
import json
import os
import subprocess
import sys
import tempfile

import pytest

from conftest import SOURCE, make_demo_machine, tool

EXAMPLES = os.path.join(SOURCE, "docs", "examples")


@pytest.fixture
def machine():
    root = make_demo_machine()
    try:
        yield root
    finally:
        import shutil

        shutil.rmtree(root, ignore_errors=True)


def example(machine, name, *args, cwd=None):
    """Runs an example with --machine (and no SKYLOOM_MACHINE); what it printed."""
    env = dict(os.environ)
    env.pop("SKYLOOM_MACHINE", None)
    done = subprocess.run([sys.executable, os.path.join(EXAMPLES, name), "--machine", machine,
                           *args], env=env, capture_output=True, text=True, timeout=120, cwd=cwd)
    assert done.returncode == 0, f"{name}: {done.stderr}"
    return done.stdout


def dump(machine):
    return json.loads(tool(machine, "qvfarm", "dump").stdout)


def load(machine, farm):
    with tempfile.NamedTemporaryFile("w", suffix=".json") as f:
        json.dump(farm, f)
        f.flush()
        tool(machine, "qvfarm", "load", f.name)


def servers_by_application(farm):
    return {a["distinguishedName"]: sorted(a["servers"]) for a in farm["applications"]}


def test_every_example_has_help():
    for name in sorted(os.listdir(EXAMPLES)):
        if name.endswith(".py"):
            done = subprocess.run([sys.executable, os.path.join(EXAMPLES, name), "--help"],
                                  capture_output=True, text=True, timeout=60)
            assert done.returncode == 0 and "usage:" in done.stdout, name


def test_list_applications_names_every_application_with_its_servers(machine):
    printed = example(machine, "list_applications.py").splitlines()
    expected = servers_by_application(dump(machine))
    assert len(printed) == len(expected)
    for line in printed:
        dn, servers = line.split(": ", 1) if ": " in line else (line.rstrip(":"), "")
        assert sorted(s for s in servers.split(", ") if s) == expected[dn], line


def test_publish_folder_publishes_its_applications_on_a_new_server(machine):
    farm = dump(machine)
    farm["servers"].append({"name": "HQ-SRV06", "zone": farm["servers"][-1]["zone"],
                            "osVersion": {"major": 6, "minor": 1}})
    load(machine, farm)
    out = example(machine, "publish_folder.py", "Applications/Office", "HQ-SRV06")
    after = servers_by_application(dump(machine))
    office = [dn for dn in after if dn.rsplit("/", 1)[0] == "Applications/Office"]
    assert office and f"{len(office)} of {len(office)} applications published" in out
    for dn, servers in after.items():
        assert ("HQ-SRV06" in servers) == (dn in office), dn
    # Again: every one is there already, and nothing changes.
    again = example(machine, "publish_folder.py", "applications/office", "HQ-SRV06")
    assert f"0 of {len(office)} applications published" in again
    assert servers_by_application(dump(machine)) == after


def test_unpublished_applications_are_found(machine):
    farm = dump(machine)
    farm["applications"][0]["servers"] = []
    load(machine, farm)
    expected = sorted(dn for dn, servers in servers_by_application(dump(machine)).items()
                      if not servers)
    assert farm["applications"][0]["distinguishedName"] in expected
    assert sorted(example(machine, "unpublished_applications.py").splitlines()) == expected


def test_settings_csv_has_a_row_per_application(machine, tmp_path):
    out = tmp_path / "settings.csv"
    example(machine, "settings_csv.py", "Description", "DefaultWindowWidth", "-o", str(out))
    rows = list(csv.reader(io.StringIO(out.read_text(encoding="utf-8"))))
    assert rows[0] == ["DistinguishedName", "Description", "DefaultWindowWidth"]
    farm = {a["distinguishedName"]: a for a in dump(machine)["applications"]}
    assert len(rows) == len(farm) + 1
    for dn, description, width in rows[1:]:
        assert description == farm[dn]["description"]
        if "DefaultWindowWidth" in farm[dn]["settings"]:
            assert width == str(farm[dn]["settings"]["DefaultWindowWidth"]), dn


def test_drain_server_writes_the_snapshot_that_bring_online_reads(machine, tmp_path):
    before = servers_by_application(dump(machine))
    on_server = sorted(dn for dn, servers in before.items() if "HQ-SRV02" in servers)
    assert on_server
    example(machine, "drain_server.py", "HQ-SRV02", str(tmp_path / "drained.txt"))
    drained = servers_by_application(dump(machine))
    assert all("HQ-SRV02" not in servers for servers in drained.values())

    # The file is the one BraskAdmin's Take offline writes for the same server of the same farm.
    other = make_demo_machine()
    try:
        tool(other, "braskadmin", "offline", "HQ-SRV02", str(tmp_path / "offline.txt"))
    finally:
        import shutil

        shutil.rmtree(other, ignore_errors=True)
    assert (tmp_path / "drained.txt").read_bytes() == (tmp_path / "offline.txt").read_bytes()

    tool(machine, "braskadmin", "online", "HQ-SRV02", str(tmp_path / "drained.txt"))
    assert servers_by_application(dump(machine)) == before
