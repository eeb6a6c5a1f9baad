// Module functions that open the dialog library's dialogs. The dialogs return new references,
// handed to the script as they are.
#include "QtInterpreter.h"
#include "pymodule/ModuleFunctions.h"

namespace proxyplugin_module {

PyObject* messageBox(PyObject*, PyObject* args) {
    const char* identifier = nullptr;
    const char* text = nullptr;
    const char* caption = "";
    int buttons = 0;
    int icon = 0;
    if (!PyArg_ParseTuple(args, "ss|sii:messageBox", &identifier, &text, &caption, &buttons,
                          &icon)) {
        return argumentError(
            "wrong args: must be text,[caption,button_flag,icon_flag] [string,string,int,int]");
    }
    if (interfaceOrReport(identifier) == nullptr) {
        return none();
    }
    const int answer = ::messageBox(text, caption, buttons, icon);
    return handOver(PyLong_FromLong(answer));
}

PyObject* inputBox(PyObject*, PyObject* args) {
    const char* identifier = nullptr;
    const char* caption = "";
    const char* text = "";
    if (!PyArg_ParseTuple(args, "s|ss:inputBox", &identifier, &caption, &text)) {
        return argumentError("wrong args: must be [caption,text] [string,string]");
    }
    if (interfaceOrReport(identifier) == nullptr) {
        return none();
    }
    // The dialog library takes the text first: the script's second optional argument.
    return handOver(::inputBox(text, caption));
}

PyObject* openFileDialog(PyObject*, PyObject* args) {
    const char* identifier = nullptr;
    const char* caption = "Open File";
    const char* directory = ".";
    const char* filters = "All Files (*)";
    if (!PyArg_ParseTuple(args, "s|sss:openFileDialog", &identifier, &caption, &directory,
                          &filters)) {
        return argumentError(
            "wrong args: must be [caption='Open File',dir='.',filters='All Files (*);; Text "
            "(*.txt)'] [string,string,string]");
    }
    if (interfaceOrReport(identifier) == nullptr) {
        return none();
    }
    return handOver(::openFileDialog(caption, directory, filters));
}

PyObject* saveFileDialog(PyObject*, PyObject* args) {
    const char* identifier = nullptr;
    const char* caption = "Save File";
    const char* directory = ".";
    const char* filters = "All Files (*)";
    if (!PyArg_ParseTuple(args, "s|sss:saveFileDialog", &identifier, &caption, &directory,
                          &filters)) {
        return argumentError(
            "wrong args: must be [caption='Save File',dir='.',filters='All Files (*);; Text "
            "(*.txt)'] [string,string]");
    }
    if (interfaceOrReport(identifier) == nullptr) {
        return none();
    }
    return handOver(::saveFileDialog(caption, directory, filters));
}

PyObject* openDirDialog(PyObject*, PyObject* args) {
    const char* identifier = nullptr;
    const char* caption = "Open Dir";
    const char* directory = ".";
    if (!PyArg_ParseTuple(args, "s|ss:openDirDialog", &identifier, &caption, &directory)) {
        return argumentError("wrong args: must be [caption='Open Dir',dir='.'] [string,string]");
    }
    if (interfaceOrReport(identifier) == nullptr) {
        return none();
    }
    return handOver(::openDirDialog(caption, directory));
}

}  // namespace proxyplugin_module
