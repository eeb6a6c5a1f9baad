// The main interpreter's SIGINT entry set to SIG_DFL, the host's own SIGINT disposition kept.
#include "InterruptMain.h"

#include <Python.h>

#include <csignal>

#include "PyCompat.h"
#include "PyRef.h"

#if !defined(_WIN32)
#include <signal.h>
#endif

namespace interpreter_detail {
namespace {

// The process's disposition of SIGINT, taken before Python changes it and put back after.
class HostInterruptHandling {
public:
#if defined(_WIN32)
    HostInterruptHandling() : _saved(std::signal(SIGINT, SIG_DFL)) {
        std::signal(SIGINT, _saved);
    }
    ~HostInterruptHandling() {
        std::signal(SIGINT, _saved);
    }
#else
    HostInterruptHandling() : _valid(sigaction(SIGINT, nullptr, &_saved) == 0) {}
    ~HostInterruptHandling() {
        if (_valid) {
            sigaction(SIGINT, &_saved, nullptr);
        }
    }
#endif
    HostInterruptHandling(const HostInterruptHandling&) = delete;
    HostInterruptHandling& operator=(const HostInterruptHandling&) = delete;

private:
#if defined(_WIN32)
    void (*_saved)(int);
#else
    bool _valid;
    struct sigaction _saved;
#endif
};

}  // namespace

void quietInterruptMain() {
    // Importing signal installs Python's SIGINT handler too (when the host has none); both are
    // undone when `host` goes.
    HostInterruptHandling host;
    PyRef signalModule = PyRef::steal(PyImport_ImportModule("signal"));
    PyRef defaultHandler = PyRef::steal(
        signalModule ? PyObject_GetAttrString(signalModule.get(), "SIG_DFL") : nullptr);
    PyRef previous =
        PyRef::steal(defaultHandler ? PyObject_CallMethod(signalModule.get(), "signal", "iO",
                                                          SIGINT, defaultHandler.get())
                                    : nullptr);
    if (!previous) {
        pycompat::printPendingError();
    }
}

}  // namespace interpreter_detail
