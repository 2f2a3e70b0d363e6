"""Scripts across the boundary: a machine installed by scripts/install-machine, whose QVCom
service serves the farm to scripts run in processes of their own, as any other client."""

import json
import os
import shutil
import tempfile
import textwrap

from conftest import run_script, tool, unused_account

def script(text):
    return textwrap.dedent(text)


def test_a_script_changes_the_farm_across_the_boundary(installed):
    tool(installed, "qvfarm", "demo")
    done = run_script(installed, script("""
        import sys
        import skyloom
        print(skyloom.__file__.startswith(skyloom.machine()), file=sys.stderr)
        assert skyloom.__file__.startswith(skyloom.machine())
        farm = skyloom.farm()
        # The object was made by the service: its settings face answers the check by name.
        assert farm.WinFarmObject.IsVantorAdministrator == 1
        # Every member of the farm's interfaces, through either face, across the boundary.
        assert farm.IsVantorAdministrator == 1
        assert farm.WinFarmObject.FarmName == farm.FarmName == "Demo Farm"
        # Objects come across as proxies of their dual interface, with its type information.
        assert repr(farm) == "<skyloom object ISkyloomFarm6>"
        assert repr(farm.Applications) == "<skyloom object ISkyloomApplications>"
        app = farm.GetApplication(skyloom.constants.SkyloomWinAppObject,
                                  "Applications/Office/Word")
        app.AppName = "Wordsmith"
        # Read-only on the face the application came as: its Windows face writes it.
        app.Description = "Renamed by a script"
        app.SaveData()
        print(len(farm.Applications), sum(1 for _ in farm.Applications))
        """))
    assert done.returncode == 0, done.stderr
    count, iterated = done.stdout.split()
    assert count == iterated and int(count) > 5
    assert tool(installed, "sc", "query", "QVCom").stdout.find("RUNNING") > 0
    apps = tool(installed, "braskadmin", "view", "apps").stdout.splitlines()
    assert "Office\\Wordsmith" in apps and "Office\\Word" not in apps
    dumped = json.loads(tool(installed, "qvfarm", "dump").stdout)
    renamed = [a for a in dumped["applications"]
               if a["distinguishedName"] == "Applications/Office/Wordsmith"]
    assert len(renamed) == 1
    assert "Renamed by a script" in json.dumps(renamed[0])


def test_a_caller_who_is_not_an_administrator_is_refused(installed):
    tool(installed, "qvfarm", "demo")
    other = unused_account(42000)
    work = tempfile.mkdtemp(prefix="skyloom-python-other-")
    os.chown(work, other, other)
    group_before = os.stat(installed).st_gid

    def give_group(gid):
        for folder, dirs, files in os.walk(installed):
            os.lchown(folder, -1, gid)
            for name in dirs + files:
                os.lchown(os.path.join(folder, name), -1, gid)

    # The second account is a user of the machine (its group), not an administrator of the farm.
    give_group(other)
    try:
        done = run_script(installed, script("""
            import skyloom
            farm = skyloom.farm()
            print("administrator:", farm.WinFarmObject.IsVantorAdministrator)
            try:
                farm.FarmName
            except skyloom.AccessDenied as e:
                print("refused:", e.hresult, isinstance(e, PermissionError), e.description)
            """), user=other, cwd=work)
    finally:
        give_group(group_before)
        shutil.rmtree(work, ignore_errors=True)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert lines[0] == "administrator: 0"
    assert lines[1].startswith("refused: -2147024891 True"), lines
