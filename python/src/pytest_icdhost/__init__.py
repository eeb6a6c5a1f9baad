"""Test ProxyPythonPlugin scripts from pytest: the ``icdhost`` fixture starts icdhost on ICD files
and scripts, sends it commands and reads their output (see docs/testing.md)."""

from .host import (Action, CommandFailed, Field, Icdhost, IcdhostError, IcdhostExited,
                   PythonError)
from .text import normalise

__all__ = ["Action", "CommandFailed", "Field", "Icdhost", "IcdhostError", "IcdhostExited",
           "PythonError", "normalise"]
