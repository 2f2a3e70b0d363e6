"""The farm's object model through skyloom, in process on the demo farm."""

import pytest

import skyloom
from conftest import tool


def test_constants_come_from_the_type_library(demo):
    assert skyloom.constants.SkyloomWinFarmObject == 1


def test_the_farm_answers_by_name(demo):
    farm = skyloom.farm()
    assert farm.FarmName == "Demo Farm"
    # The settings face answers its members, and the farm's, by name.
    settings = farm.WinFarmObject
    assert settings.IsVantorAdministrator == 1
    assert settings.FarmName == "Demo Farm"
    assert farm.IsVantorAdministrator == 1


def test_applications_iterate_and_have_a_length(demo):
    farm = skyloom.farm()
    apps = farm.Applications
    names = [app.DistinguishedName for app in apps]
    assert len(apps) == len(names) > 5
    assert "Applications/Office/Word" in names
    # Item takes a position: a property with an argument reads as a callable.
    assert apps.Item(1).DistinguishedName == names[0]
    word = farm.GetApplication(skyloom.constants.SkyloomWinAppObject, "Applications/Office/Word")
    assert word.DistinguishedName == "Applications/Office/Word"


def test_a_member_the_module_does_not_implement_is_a_clear_error(demo):
    farm = skyloom.farm()
    with pytest.raises(skyloom.ComError) as caught:
        farm.LocalServerName
    assert caught.value.hresult == -2147467263  # E_NOTIMPL
    assert caught.value.description == "ISkyloomFarm::LocalServerName is not implemented"


def test_a_change_is_seen_by_braskadmin_and_qvfarm(fresh_demo):
    farm = skyloom.farm()
    app = farm.GetApplication(skyloom.constants.SkyloomWinAppObject, "Applications/Office/Word")
    app.Description = "Written from a script"
    app.SaveData()
    assert "Written from a script" in tool(fresh_demo, "qvfarm", "dump").stdout
