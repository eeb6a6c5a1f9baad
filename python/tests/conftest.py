from pathlib import Path

import pytest

pytest_plugins = ["pytester"]

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


@pytest.fixture
def nav_bus() -> Path:
    return EXAMPLES / "nav_bus.xml"
