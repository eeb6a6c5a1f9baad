"""docs/testing.md followed as a new user would: its files copied out of the guide into an empty
folder, its pytest run green, its CI command passing; then the script broken as the guide says,
and both failing the way the guide shows."""

import os
import re
import subprocess
from pathlib import Path

import pytest

GUIDE = Path(__file__).resolve().parents[2] / "docs" / "testing.md"

# A file of the guide: the name in backquotes on its own line, then a fenced block.
FILE_BLOCK = re.compile(r"^`([\w.]+)`.*?:\n\n```\w*\n(.*?)^```", re.M | re.S)
# The CI scenario's block follows the words that name it.
SCENARIO_BLOCK = re.compile(r"`smoke\.icdhost`:\n\n```\n(.*?)^```", re.M | re.S)
CI_COMMAND = re.compile(r"^    (icdhost --strict .*)$", re.M)

WORKING_ENCODE = "return int(round((celsius + 273.15) * 10))"
BROKEN_ENCODE = "return celsius * 10 + offset"


@pytest.fixture
def guide_folder(pytester):
    """The empty folder of the guide's step 2 with every file the guide shows in it."""
    text = GUIDE.read_text()
    files = dict(FILE_BLOCK.findall(text))
    assert set(files) >= {"bus.xml", "engine_monitor.py", "test_engine_monitor.py"}, files
    scenario = SCENARIO_BLOCK.search(text)
    assert scenario, "the guide's smoke.icdhost block"
    files["smoke.icdhost"] = scenario.group(1)
    for name, content in files.items():
        (pytester.path / name).write_text(content)
    command = CI_COMMAND.search(text)
    assert command, "the guide's CI command"
    return pytester, command.group(1).split()


def run_ci_command(folder, command):
    icdhost = os.environ.get("ICDHOST", "icdhost")
    return subprocess.run([icdhost] + command[1:], cwd=str(folder), capture_output=True,
                          text=True, timeout=120)


def break_the_encoder(folder):
    script = folder / "engine_monitor.py"
    source = script.read_text()
    assert WORKING_ENCODE in source
    script.write_text(source.replace(WORKING_ENCODE, BROKEN_ENCODE))


def test_the_guides_test_and_ci_command_pass_on_the_guides_script(guide_folder):
    pytester, command = guide_folder
    result = pytester.runpytest("-p", "pytest_icdhost.plugin", "-p", "no:cacheprovider")
    result.assert_outcomes(passed=3)
    ci = run_ci_command(pytester.path, command)
    assert (ci.returncode, ci.stderr) == (0, "")


def test_the_guides_broken_encoder_fails_the_test_and_the_ci_command(guide_folder):
    pytester, command = guide_folder
    break_the_encoder(pytester.path)
    result = pytester.runpytest("-p", "pytest_icdhost.plugin", "-p", "no:cacheprovider")
    result.assert_outcomes(passed=2, failed=1, errors=1)
    result.stdout.fnmatch_lines([
        "*the scripts reported 1 error*",
        "*ERROR: encode returns python errors*",
        "*NameError*name 'offset' is not defined*",
    ])
    ci = run_ci_command(pytester.path, command)
    assert ci.returncode == 3, ci.stderr
    assert ci.stderr.splitlines()[-1] == "icdhost: --strict: the scripts reported 1 error"
