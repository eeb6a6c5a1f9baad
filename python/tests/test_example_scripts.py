"""Each example script driven through the fixture's typed helpers, in strict mode: a script error
anywhere fails the test."""

from pathlib import Path

import pytest

from conftest import EXAMPLES

# The ICD files each example script is written for.
EXAMPLE_ICDS = {"nav_plugin.py": ["nav_bus.xml"]}


def test_every_example_script_has_its_icd_listed_here():
    assert sorted(p.name for p in EXAMPLES.glob("*.py")) == sorted(EXAMPLE_ICDS)


@pytest.mark.parametrize("script", sorted(EXAMPLE_ICDS))
def test_each_example_script_loads_starts_and_stops_without_a_script_error(icdhost, script):
    host = icdhost([EXAMPLES / icd for icd in EXAMPLE_ICDS[script]], EXAMPLES / script)
    assert any(line.startswith("ProxyPythonPlugin::") for line in host.startup)
    assert host.actions()
    host.start()
    host.send("expect-running yes")
    host.stop()


@pytest.fixture
def nav(icdhost, nav_bus):
    return icdhost(nav_bus, EXAMPLES / "nav_plugin.py")


def test_the_altitude_encoder_round_trips_feet_through_quarter_feet(nav):
    assert nav.set("NAV_STATUS.altitude", 1250.5) == 5002
    field = nav.field("NAV_STATUS.altitude")
    assert (field.value, field.raw, field.encoder, field.reserved) == (
        1250.5, 5002, "ALT_QUARTER_FT", False)
    assert nav.decode("NAV_STATUS.altitude", 0xFFFFFFF8) == -2.0


def test_the_mode_encoder_shows_names_and_fails_on_an_unknown_one(nav):
    assert nav.set("NAV_STATUS.mode", "CRUISE") == "2"
    assert nav.field("NAV_STATUS.mode").value == "CRUISE"
    nav.expect_script_errors()  # the encoder raises KeyError for WARP
    assert nav.set("NAV_STATUS.mode", "WARP") is None


def test_the_conversion_action_returns_typed_outputs(nav):
    assert nav.exec(20, feet=12000) == {
        "above_transition": True, "flight_level": 120, "metres": 3657.6000000000004,
        "units": "ft"}
    nav.action(12)  # metres
    assert nav.exec(20, feet=0.0, qnh_hpa=1013.25)["units"] == "m"


def test_a_conversion_given_a_text_fails_with_the_scripts_error(nav):
    nav.expect_script_errors()
    assert nav.exec(20, feet="high") is None


def test_the_unit_group_checks_one_action_at_a_time(nav):
    checked = {action.name: action.checked for action in nav.actions()}
    assert checked["Feet"] and not checked["Metres"]
    nav.action(12)
    checked = {action.name: action.checked for action in nav.actions()}
    assert checked["Metres"] and not checked["Feet"]
    assert [a.depth for a in nav.actions() if a.name in ("Navigation", "Units", "Feet")] == [0, 1, 2]


def test_dialog_answers_are_taken_in_order(nav):
    nav.answer(1, "RESCUE 21")
    output = nav.action(32)
    assert output[-1] == "nav: callsign 'RESCUE 21'"
    nav.answer(None)
    assert nav.action(32)[-1] == "nav: callsign unchanged (button 0)"


def test_a_ping_is_answered_by_a_pong_on_the_bridge_thread(nav):
    nav.event(200)
    assert nav.sync() == ["nav: ping received, answering", "nav: pong received"]


def test_py_reads_and_changes_the_scripts_own_objects(nav):
    assert nav.py("nav.positions") == "0"
    nav.send("action 3")  # log positions on
    nav.event(100, 7)
    nav.sync()
    assert nav.py("nav.positions") == "1"
    nav.py("nav.units = 'km'")
    assert nav.exec(20, feet=1)["units"] == "km"
    assert nav.py("PLUGIN") == "'proxyplugin#0@ID'"
