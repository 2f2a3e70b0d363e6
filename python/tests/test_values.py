"""Values, calls, errors and collections through skyloom, on the tests' own class in process."""

import datetime
import decimal

import pytest

import skyloom
from conftest import TEST_PROGID

VT_EMPTY, VT_I4, VT_R8, VT_CY, VT_DATE, VT_BSTR, VT_DISPATCH, VT_BOOL, VT_I8 = (
    0, 3, 5, 6, 7, 8, 9, 11, 20)


@pytest.fixture
def obj(demo):
    return skyloom.Dispatch(TEST_PROGID)


def test_every_value_type_goes_both_ways(obj):
    values = [
        (None, VT_EMPTY),
        (True, VT_BOOL),
        (False, VT_BOOL),
        (42, VT_I4),
        (-2147483648, VT_I4),
        (2**40, VT_I8),
        (-(2**63), VT_I8),
        (2.5, VT_R8),
        ("Wörd ✓", VT_BSTR),
        ("", VT_BSTR),
        (datetime.datetime(2024, 2, 29, 13, 45, 30, 250000), VT_DATE),
        (datetime.datetime(1899, 12, 29, 6, 0), VT_DATE),
        (decimal.Decimal("1234.5678"), VT_CY),
        (decimal.Decimal("-0.0001"), VT_CY),
    ]
    for value, vt in values:
        assert obj.TypeOf(value) == vt, value
        back = obj.Echo(value)
        assert back == value and type(back) is type(value), (value, back)
    # Objects travel as themselves.
    assert obj.TypeOf(obj) == VT_DISPATCH
    assert obj.Echo(obj) == obj
    # A date alone is midnight of that day.
    assert obj.Echo(datetime.date(2001, 5, 6)) == datetime.datetime(2001, 5, 6)
    # Currency keeps four decimals, rounded half to even.
    assert obj.Echo(decimal.Decimal("0.00005")) == decimal.Decimal("0.0000")
    assert obj.Echo(decimal.Decimal("0.00015")) == decimal.Decimal("0.0002")


def test_values_that_cannot_travel_are_refused_before_the_call(obj):
    with pytest.raises(OverflowError):
        obj.Echo(2**64)
    with pytest.raises(TypeError):
        obj.Echo(object())
    with pytest.raises(skyloom.ComError) as caught:
        obj.Echo(decimal.Decimal("1e20"))
    assert caught.value.hresult == -2147352566  # DISP_E_OVERFLOW


VT_ARRAY_VARIANT = 0x2000 | 12


def test_lists_go_as_arrays_and_arrays_come_back_as_lists(obj):
    values = [1, "two", 3.5, True, None, obj, decimal.Decimal("1.5"),
              datetime.datetime(2024, 1, 2, 3, 4, 5)]
    assert obj.TypeOf(values) == VT_ARRAY_VARIANT
    assert obj.Echo(values) == values
    assert obj.TypeOf((1, 2)) == VT_ARRAY_VARIANT
    assert obj.Echo((1, 2)) == [1, 2]  # a tuple comes back as a list
    assert obj.Echo([]) == []
    # A list inside a list is an array inside the variant.
    assert obj.Echo([[1, [2, "x"]], []]) == [[1, [2, "x"]], []]
    # More dimensions come back nested, the first dimension outermost, from 0 whatever the
    # array's lower bounds.
    assert obj.Grid(2, 3) == [[10, 11, 12], [20, 21, 22]]
    assert obj.Grid(0, 3) == []
    # Too deep, a cycle, or an item that cannot travel: refused before the call.
    deep = []
    for _ in range(9):
        deep = [deep]
    with pytest.raises(ValueError, match="nest"):
        obj.Echo(deep)
    looped = []
    looped.append(looped)
    with pytest.raises(ValueError, match="nest"):
        obj.Echo(looped)
    with pytest.raises(TypeError):
        obj.Echo([1, object()])


def test_typed_properties_read_and_write(obj):
    assert obj.Name == "first"
    obj.name = "second"  # names without regard to case
    assert obj.NAME == "second"
    obj.Ratio = 3
    assert obj.Ratio == 3.0 and isinstance(obj.Ratio, float)
    obj.Enabled = True
    assert obj.Enabled is True
    moment = datetime.datetime(2030, 1, 2, 3, 4, 5)
    obj.When = moment
    assert obj.When == moment
    assert obj.Color == 2  # ScriptTestBlue: enumerations read as int
    with pytest.raises(AttributeError, match="read-only"):
        obj.Color = 1
    with pytest.raises(AttributeError, match="NoSuchMember"):
        obj.NoSuchMember
    # Python's special names are never members.
    assert not hasattr(obj, "__array__")


def test_out_and_in_out_arguments_come_back_after_the_result(obj):
    assert obj.Divide(17, 5) == (3, 2)
    assert obj.Divide(17, 5, None) == (3, 2)
    assert obj.Twice(21) == (None, 42)


def test_members_with_arguments_are_callables(obj):
    label = obj.Label
    assert callable(label)
    assert label(7) == "label 7"
    assert obj.Add(1, 2) == 3
    assert obj.Add(1) == 11  # the default of the optional parameter
    with pytest.raises(skyloom.ComError) as caught:
        obj.Add()
    assert caught.value.hresult == -2147352562  # DISP_E_BADPARAMCOUNT


def test_collections_iterate_have_a_length_and_a_default_member(obj):
    items = obj.Items
    assert len(items) == 3
    assert list(items) == ["alpha", "beta", "gamma"]
    assert list(items) == ["alpha", "beta", "gamma"]  # a fresh enumerator each time
    assert items(2) == "beta"
    assert items.Item(3) == "gamma"
    with pytest.raises(skyloom.ComError) as caught:
        items(9)
    assert caught.value.description == "There is no such item."
    with pytest.raises(TypeError):
        len(obj)


def test_errors_carry_the_code_the_description_and_the_source(obj):
    with pytest.raises(skyloom.ComError) as caught:
        obj.Fail("The pump is dry.")
    error = caught.value
    assert isinstance(error, OSError)
    assert error.hresult == -2147467259  # E_FAIL, signed
    assert error.description == "The pump is dry."
    assert error.source == "ScriptTest"
    assert "The pump is dry." in str(error) and "0x80004005" in str(error)
    assert not isinstance(error, skyloom.AccessDenied)

    with pytest.raises(skyloom.AccessDenied) as denied:
        obj.Refuse()
    assert isinstance(denied.value, PermissionError)
    assert isinstance(denied.value, skyloom.ComError)
    assert denied.value.hresult == -2147024891  # E_ACCESSDENIED

    # Without error information, the system's text for the code.
    with pytest.raises(skyloom.ComError) as unknown:
        skyloom.Dispatch("SkyloomScriptTest.NoSuchClass")
    assert unknown.value.hresult == -2147221005  # CO_E_CLASSSTRING
    assert unknown.value.description == "Invalid class string"


def test_every_face_answers_every_member_by_name(obj):
    # The object was created as its first face; the second face's members answer too.
    assert obj.Extra == "extra"
    main = obj.Main
    assert main.Name == obj.Name
    assert main.Extra == "extra"


def test_dir_lists_the_members(obj):
    names = dir(obj)
    for name in ("Echo", "Divide", "Name", "Items"):
        assert name in names
