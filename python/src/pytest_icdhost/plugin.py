"""The pytest plug-in: the ``icdhost`` fixture and the ``--icdhost`` option.

    def test_altitude(icdhost):
        host = icdhost("nav_bus.xml", "nav_plugin.py")
        assert host.set("NAV_STATUS.altitude", 1250.5) == 5002

The fixture is a function that starts icdhost (with ``--strict``) on ICD files and scripts and
gives an :class:`Icdhost`. At the end of the test every host it started is closed; the test fails,
with the whole transcript, when a script reported an error (unless the test called
``expect_script_errors()`` or is marked ``icdhost_script_errors``), or when icdhost ended with a
status that the test had not already seen the reason of."""

import os
import shutil
from pathlib import Path
from typing import Iterator, List, Optional, Sequence, Union

import pytest

from .host import Icdhost, PathLike, find_executable


def pytest_addoption(parser: pytest.Parser) -> None:
    group = parser.getgroup("icdhost")
    group.addoption("--icdhost", dest="icdhost_executable", metavar="PATH", default=None,
                    help="the icdhost program to run (default: $ICDHOST, the one installed "
                         "beside this plug-in, or icdhost on PATH)")


def pytest_configure(config: pytest.Config) -> None:
    config.addinivalue_line("markers", "icdhost_script_errors: the test expects its scripts to "
                                       "report errors; it fails when they report none")


def _as_list(paths: Union[PathLike, Sequence[PathLike]]) -> List[PathLike]:
    if isinstance(paths, (str, os.PathLike)):
        return [paths]
    return list(paths)


def _copy_scripts(scripts: List[PathLike], into: Path) -> List[Path]:
    """Copies each script with the Python files beside it (modules it may import) into a folder
    of its own: the plug-in writes its help page beside the script."""
    copies = []
    for index, script in enumerate(scripts):
        source = Path(script).resolve()
        folder = into / ("scripts-%d" % index)
        folder.mkdir(parents=True, exist_ok=True)
        for sibling in source.parent.glob("*.py"):
            shutil.copy2(sibling, folder / sibling.name)
        shutil.copy2(source, folder / source.name)
        copies.append(folder / source.name)
    return copies


class IcdhostFactory:
    """The ``icdhost`` fixture: call it to start icdhost."""

    def __init__(self, executable: Optional[str], workdir: Path, expects_errors: bool) -> None:
        self._executable = executable
        self._workdir = workdir
        self._expects_errors = expects_errors
        self.hosts: List[Icdhost] = []

    def __call__(self, icd: Union[PathLike, Sequence[PathLike]],
                 script: Union[PathLike, Sequence[PathLike]], *, args: Sequence[str] = (),
                 strict: bool = True, copy_scripts: bool = True, timeout: float = 30.0,
                 cwd: Optional[PathLike] = None) -> Icdhost:
        """Starts icdhost on the ICD file(s) and script(s), in a folder of the test's own (or
        ``cwd``). Scripts run from copies unless ``copy_scripts`` is false. ``args`` are further
        icdhost options (``--trace``, ``--sync-timeout MS``)."""
        workdir = Path(cwd) if cwd is not None else self._workdir
        icds = [Path(path).resolve() for path in _as_list(icd)]
        scripts = _as_list(script)
        if copy_scripts:
            scripts = list(_copy_scripts(scripts, self._workdir / ("host-%d" % len(self.hosts))))
        host = Icdhost(find_executable(self._executable), icds, scripts, cwd=workdir,
                       strict=strict, args=args, timeout=timeout)
        if self._expects_errors:
            host.expect_script_errors()
        self.hosts.append(host)
        return host


@pytest.fixture
def icdhost(request: pytest.FixtureRequest, tmp_path: Path) -> Iterator[IcdhostFactory]:
    """Starts icdhost on ICD files and scripts: ``icdhost(icd, script, ...)`` gives a running
    :class:`pytest_icdhost.Icdhost`, closed and checked at the end of the test."""
    factory = IcdhostFactory(request.config.getoption("icdhost_executable"), tmp_path,
                             request.node.get_closest_marker("icdhost_script_errors") is not None)
    yield factory
    reports = []
    for host in factory.hosts:
        problems = host.problems()
        if problems:
            reports.append("%s\n\nicdhost transcript (%s):\n%s" % (
                "; ".join(problems), " ".join(host.command), host.format_transcript()))
    if reports:
        pytest.fail("\n\n".join(reports), pytrace=False)
