"""Threads: an apartment per Python thread, objects that belong to the thread that made them,
and the interpreter lock released while a call waits."""

import threading

import pytest

import skyloom
from conftest import TEST_PROGID

WRONG_THREAD = -2147417842  # 0x8001010E, RPC_E_WRONG_THREAD


def in_thread(work):
    """Runs `work` in a new thread; what it returned or raised."""
    outcome = {}

    def run():
        try:
            outcome["value"] = work()
        except BaseException as e:  # noqa: BLE001 - handed back to the test
            outcome["error"] = e

    thread = threading.Thread(target=run)
    thread.start()
    thread.join(60)
    assert not thread.is_alive()
    return outcome


def test_an_object_used_from_another_thread_is_refused(demo):
    obj = skyloom.Dispatch(TEST_PROGID)
    items = obj.Items
    for use in (lambda: obj.Name, lambda: setattr(obj, "Name", "x"), lambda: obj.Add(1, 2),
                lambda: obj(), lambda: list(items), lambda: len(items)):
        error = in_thread(use).get("error")
        assert isinstance(error, skyloom.ComError), error
        assert error.hresult == WRONG_THREAD
        assert error.description == (
            "The application called an interface that was marshalled for a different thread.")
    # The thread that made it goes on using it; another thread makes its own.
    assert obj.Name == "first"
    assert in_thread(lambda: skyloom.Dispatch(TEST_PROGID).Add(2, 3)) == {"value": 5}


def test_an_enumeration_begun_in_one_thread_is_refused_in_another(demo):
    walk = iter(skyloom.Dispatch(TEST_PROGID).Items)
    assert next(walk) == "alpha"
    error = in_thread(lambda: next(walk)).get("error")
    assert isinstance(error, skyloom.ComError) and error.hresult == WRONG_THREAD


def test_the_interpreter_lock_is_released_while_a_call_waits(demo):
    inside = threading.Event()
    ran_meanwhile = threading.Event()
    seen = {}

    def caller():
        obj = skyloom.Dispatch(TEST_PROGID)
        inside.set()
        obj.Wait(3000)
        # The other thread could only have run while the call held no interpreter lock.
        seen["other ran"] = ran_meanwhile.is_set()

    def other():
        inside.wait(30)
        threading.Event().wait(0.2)
        ran_meanwhile.set()

    threads = [threading.Thread(target=caller), threading.Thread(target=other)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(60)
    assert seen == {"other ran": True}


def test_two_threads_call_the_farm_at_once(demo):
    def walk():
        farm = skyloom.farm()
        return [(app.DistinguishedName, sorted(s.ServerName for s in app.Servers))
                for _ in range(3) for app in farm.Applications]

    expected = walk()
    outcomes = []
    threads = [threading.Thread(target=lambda: outcomes.append(in_thread(walk)))
               for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(120)
    assert outcomes == [{"value": expected}, {"value": expected}]
