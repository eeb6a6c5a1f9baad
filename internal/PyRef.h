// The one owning Python reference type of our code. A PyRef owns exactly one reference or none;
// it is moved, never copied. Precondition for every operation that changes the count (reset,
// destruction, assignment): the calling thread holds the interpreter of the object.
#pragma once

#include <Python.h>

#include <utility>

class PyRef {
public:
    PyRef() = default;
    // Takes over a new reference (a C-API result documented as "new reference"); null is allowed.
    static PyRef steal(PyObject* object) { return PyRef(object); }
    // Adds a reference to a borrowed object; null is allowed.
    static PyRef borrow(PyObject* object) {
        Py_XINCREF(object);
        return PyRef(object);
    }

    PyRef(PyRef&& other) noexcept : _object(other._object) { other._object = nullptr; }
    PyRef& operator=(PyRef&& other) noexcept {
        if (this != &other) {
            PyObject* old = _object;
            _object = other._object;
            other._object = nullptr;
            Py_XDECREF(old);
        }
        return *this;
    }
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    ~PyRef() { Py_XDECREF(_object); }

    PyObject* get() const { return _object; }
    explicit operator bool() const { return _object != nullptr; }
    // Gives up ownership: the caller now owns the reference (for C-API calls that steal one, or a
    // result handed back to Python).
    PyObject* release() {
        PyObject* object = _object;
        _object = nullptr;
        return object;
    }
    void reset() { Py_CLEAR(_object); }

private:
    explicit PyRef(PyObject* object) : _object(object) {}
    PyObject* _object = nullptr;
};
