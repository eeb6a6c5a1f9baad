// Scripts' whole-line sys.stdout and sys.stderr: per-thread line buffers, the output lock.
#include "LineOutput.h"

#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>

#include "PyCompat.h"
#include "PyInterpreter.h"
#include "PyRef.h"
#include "WriteAll.h"

namespace interpreter_detail {
namespace {

// The output lock: orders the writes of the line streams of every interpreter and thread, and the
// host's own lines written through writeOutputLines. A leaf (docs/design.md). Never destroyed:
// threads write their last line when they end, also while the process runs static destructors.
std::mutex& outputMutex() {
    static auto* mutex = new std::mutex();
    return *mutex;
}

// What one thread has written to the two streams that does not end a line yet. At most one of
// the two holds text: writing to one stream first sends what waits on the other, so a thread's
// output keeps its order across both.
struct WaitingText {
    std::string text[2];  // standard output, standard error
    bool pending = false;

    // Written when the thread ends: no Python is involved.
    ~WaitingText() { sendAll(); }

    void sendAll() {
        if (!pending) {
            return;
        }
        std::lock_guard<std::mutex> lock(outputMutex());
        for (int stream = 0; stream < 2; ++stream) {
            icdhost_text::writeAll(stream + 1, text[stream]);
            text[stream].clear();
        }
        pending = false;
    }
};

thread_local WaitingText waiting;

// Adds `size` bytes for `stream` (0 or 1) to the thread's text and writes every whole line of it in
// one piece. Precondition: the interpreter lock is held; it is released for the write.
void put(int stream, const char* data, std::size_t size, bool flush) {
    WaitingText& own = waiting;
    std::string& other = own.text[1 - stream];
    std::string& text = own.text[stream];
    std::string out;
    out.swap(other);  // what waits on the other stream goes first, to its own descriptor
    const int otherFd = 2 - stream;
    text.append(data, size);
    std::string lines;
    if (flush) {
        lines.swap(text);
    } else {
        const std::size_t end = text.rfind('\n');
        if (end != std::string::npos) {
            lines.assign(text, 0, end + 1);
            text.erase(0, end + 1);
        }
    }
    own.pending = !text.empty();
    if (out.empty() && lines.empty()) {
        return;
    }
    Py_BEGIN_ALLOW_THREADS {
        std::lock_guard<std::mutex> lock(outputMutex());
        icdhost_text::writeAll(otherFd, out);
        icdhost_text::writeAll(stream + 1, lines);
    }
    Py_END_ALLOW_THREADS
}

// _line_write(stream, data): stream 0 is standard output, 1 standard error; data is bytes-like.
// Returns the number of bytes taken.
PyObject* lineWrite(PyObject*, PyObject* args) {
    int stream = 0;
    Py_buffer data;
    if (!PyArg_ParseTuple(args, "iy*:_line_write", &stream, &data)) {
        return nullptr;
    }
    const Py_ssize_t size = data.len;
    if (stream == 0 || stream == 1) {
        put(stream, static_cast<const char*>(data.buf), static_cast<std::size_t>(size), false);
    }
    PyBuffer_Release(&data);
    return PyLong_FromSsize_t(size);
}

// _line_flush(stream): sends the start of a line waiting on that stream.
PyObject* lineFlush(PyObject*, PyObject* args) {
    int stream = 0;
    if (!PyArg_ParseTuple(args, "i:_line_flush", &stream)) {
        return nullptr;
    }
    if ((stream == 0 || stream == 1) && waiting.pending) {
        put(stream, "", 0, true);
    }
    Py_RETURN_NONE;
}

PyMethodDef lineWriteDef = {"_line_write", lineWrite, METH_VARARGS, nullptr};
PyMethodDef lineFlushDef = {"_line_flush", lineFlush, METH_VARARGS, nullptr};

// Run once per interpreter with the two functions bound. The raw layer is a class of its own so
// that the text layer is the interpreter's usual io.TextIOWrapper: encoding, errors, newline
// translation and write_through as the original streams had them.
const char* const kInstaller = R"(
def _install(sys, write, flush):
    import io

    class LineWriter(io.RawIOBase):
        def __init__(self, stream, original):
            self._stream = stream
            self._original = original
            self.name = original.name

        def writable(self):
            return True

        def write(self, data):
            return write(self._stream, data)

        def flush(self):
            flush(self._stream)

        def fileno(self):
            return self._original.fileno()

        def isatty(self):
            return self._original.isatty()

    def wrap(stream, original):
        if original is None:
            return None
        text = io.TextIOWrapper(LineWriter(stream, original), encoding=original.encoding,
                                errors=original.errors, newline="\n",
                                line_buffering=False, write_through=True)
        text.mode = "w"
        return text

    sys.stdout = sys.__stdout__ = wrap(0, sys.__stdout__)
    sys.stderr = sys.__stderr__ = wrap(1, sys.__stderr__)
)";

}  // namespace

bool linePending() {
    return waiting.pending;
}

void writePendingLines() {
    waiting.sendAll();
}

void installLineStreams() {
    PyRef namespaceDict = PyRef::steal(PyDict_New());
    PyRef write = PyRef::steal(PyCFunction_NewEx(&lineWriteDef, nullptr, nullptr));
    PyRef flush = PyRef::steal(PyCFunction_NewEx(&lineFlushDef, nullptr, nullptr));
    PyObject* sys = PyImport_AddModule("sys");  // borrowed
    bool installed = false;
    if (namespaceDict && write && flush && sys != nullptr &&
        PyDict_SetItemString(namespaceDict.get(), "__builtins__", PyEval_GetBuiltins()) == 0) {
        PyRef defined = PyRef::steal(
            PyRun_String(kInstaller, Py_file_input, namespaceDict.get(), namespaceDict.get()));
        PyObject* install =
            defined ? PyDict_GetItemString(namespaceDict.get(), "_install") : nullptr;  // borrowed
        if (install != nullptr) {
            PyRef done = PyRef::steal(
                PyObject_CallFunctionObjArgs(install, sys, write.get(), flush.get(), nullptr));
            installed = static_cast<bool>(done);
        }
    }
    if (!installed) {
        pycompat::printPendingError();
    }
}

}  // namespace interpreter_detail

void writeOutputLines(int fd, const std::string& text) {
    std::lock_guard<std::mutex> lock(interpreter_detail::outputMutex());
    icdhost_text::writeAll(fd, text);
}
