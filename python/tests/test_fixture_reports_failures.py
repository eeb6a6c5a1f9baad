"""What the fixture does when something goes wrong: tests run by pytest's own test runner on
scripts written for the purpose, their outcome and report checked."""

import textwrap

import pytest

from conftest import EXAMPLES

BROKEN = """
import proxyplugin as pp
pp.setName(pp.__proxy_plugin_identifier__, "BROKEN")
raise RuntimeError("broken on purpose")
"""

CLEAN = """
import proxyplugin as pp
PLUGIN = pp.__proxy_plugin_identifier__
pp.setName(PLUGIN, "CLEAN")
pp.addCallableAction(PLUGIN, 5, "Double", lambda value=0: {"twice": value * 2})
counter = 0
class ProxyPluginObject:
    "A clean plug-in."
"""


@pytest.fixture
def run(pytester):
    """Writes the scripts and one test file, runs it, gives the result."""
    def run_tests(test_source, **scripts):
        for name, source in scripts.items():
            pytester.makefile(".py", **{name: source})
        pytester.makepyfile(test_inner=textwrap.dedent("""
            import pytest
            from pytest_icdhost import CommandFailed, PythonError
            NAV_BUS = %r
        """ % str(EXAMPLES / "nav_bus.xml")) + textwrap.dedent(test_source))
        return pytester.runpytest("-p", "pytest_icdhost.plugin", "-p", "no:cacheprovider")
    return run_tests


def test_a_script_that_fails_to_load_fails_the_test_with_the_whole_transcript(run):
    result = run("""
        def test_it(icdhost):
            icdhost(NAV_BUS, "broken.py").send("echo after the failure")
    """, broken=BROKEN)
    result.assert_outcomes(passed=1, errors=1)
    result.stdout.fnmatch_lines([
        "*the scripts reported 2 errors*",
        "*RuntimeError: broken on purpose*",
        "> echo after the failure",
        "after the failure",
        "*destroying plugin 0x*",
    ])


def test_a_test_that_expects_a_script_error_passes_with_one_and_fails_without(run):
    result = run("""
        def test_expects_and_gets_one(icdhost):
            icdhost(NAV_BUS, "broken.py").expect_script_errors()

        @pytest.mark.icdhost_script_errors
        def test_marked(icdhost):
            icdhost(NAV_BUS, "broken.py")

        def test_expects_but_gets_none(icdhost):
            icdhost(NAV_BUS, "clean.py").expect_script_errors()
    """, broken=BROKEN, clean=CLEAN)
    result.assert_outcomes(passed=3, errors=1)
    result.stdout.fnmatch_lines(["*expected a script error, but the scripts reported none*"])


def test_failed_commands_and_expectations_fail_where_they_happen(run):
    result = run("""
        def test_unknown_field(icdhost):
            host = icdhost(NAV_BUS, "clean.py")
            with pytest.raises(CommandFailed) as failure:
                host.field("NAV_STATUS.nope")
            assert failure.value.reason == "get: no field 'nope' in message 'NAV_STATUS'"

        def test_unchecked_failure_is_returned(icdhost):
            host = icdhost(NAV_BUS, "clean.py")
            assert host.send("bogus", check=False) == [
                "icdhost: line 2: unknown command 'bogus' (help lists the commands)"]

        def test_mismatch(icdhost):
            icdhost(NAV_BUS, "clean.py").send("expect-name OTHER")
    """, clean=CLEAN)
    result.assert_outcomes(passed=2, failed=1)
    result.stdout.fnmatch_lines(['*AssertionError: expected plug-in 0 name "OTHER", got "CLEAN"*'])


def test_python_errors_raise_with_their_traceback_and_are_not_script_errors(run):
    result = run("""
        def test_it(icdhost):
            host = icdhost(NAV_BUS, "clean.py")
            with pytest.raises(PythonError) as failure:
                host.py("counter / 0")
            assert failure.value.traceback.endswith("ZeroDivisionError: division by zero")
            assert host.py("counter + 1") == "1"
            host.py("counter = 41")
            assert host.py("counter + 1") == "42"
            assert host.exec(5, value=21) == {"twice": 42}
    """, clean=CLEAN)
    result.assert_outcomes(passed=1)


def test_a_missing_icdhost_is_named_in_the_error(run):
    result = run("""
        def test_it(icdhost, monkeypatch):
            monkeypatch.setenv("ICDHOST", "/no/such/icdhost")
            icdhost(NAV_BUS, "clean.py")
    """, clean=CLEAN)
    result.assert_outcomes(failed=1)
    result.stdout.fnmatch_lines(["*No such file or directory*icdhost*"])
