// The finder that refuses single-phase extension modules in an interpreter with its own lock.
#include "SinglePhaseRefusal.h"

#include <Python.h>

#include "PyCompat.h"
#include "PyRef.h"

namespace interpreter_detail {
namespace {

// The single-phase extension modules of each CPython's standard library (found by importing
// every module of lib-dynload in such an interpreter), and on 3.12 _zoneinfo, which needs
// _datetime's C interface; a later CPython takes the newest list. Modules a build does not have
// cost nothing.
constexpr const char* kFinder = R"(
import sys

SINGLE_PHASE = {
    (3, 12): "_ctypes _curses _curses_panel _datetime _decimal _elementtree _lsprof _testbuffer "
             "_testcapi _testclinic _testimportmultiple _testsinglephase _tkinter _xxtestfuzz "
             "_zoneinfo nis ossaudiodev pyexpat readline xxlimited_35",
    (3, 13): "_curses _curses_panel _testbuffer _testcapi _testclinic _testclinic_limited "
             "_testexternalinspection _testimportmultiple _testlimitedcapi _testsinglephase "
             "_tkinter _xxtestfuzz readline xxlimited_35",
}


class SinglePhaseRefusal:
    """Refuses, before their initialisation runs, the standard library's extension modules
    that cannot load in an interpreter with an interpreter lock of its own."""

    refused = frozenset(SINGLE_PHASE[min(sys.version_info[:2], max(SINGLE_PHASE))].split())

    @classmethod
    def find_spec(cls, name, path=None, target=None):
        if name in cls.refused:
            raise ImportError("module %s does not support loading in subinterpreters" % name,
                              name=name)
        return None


sys.meta_path.insert(0, SinglePhaseRefusal)
)";

}  // namespace

void refuseSinglePhaseModules() {
    PyRef globals = PyRef::steal(PyDict_New());
    if (!globals ||
        PyDict_SetItemString(globals.get(), "__builtins__", PyEval_GetBuiltins()) != 0) {
        pycompat::printPendingError();
        return;
    }
    PyRef result = PyRef::steal(PyRun_String(kFinder, Py_file_input, globals.get(), globals.get()));
    if (!result) {
        pycompat::printPendingError();
    }
}

}  // namespace interpreter_detail
