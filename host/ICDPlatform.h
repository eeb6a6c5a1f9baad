// The one place that knows which platform we build for: symbol export of the four libraries and
// the two operating-system services the plug-in needs (opening a document with the desktop's
// default application, and the pause of onDestroy). A Windows build changes only this header and
// plugin/Platform.cpp.
#pragma once

#include <string>

#if defined(_WIN32)
#define ICD_DLL_EXPORT __declspec(dllexport)
#define ICD_DLL_IMPORT __declspec(dllimport)
#else
#define ICD_DLL_EXPORT __attribute__((visibility("default")))
#define ICD_DLL_IMPORT __attribute__((visibility("default")))
#endif

// Reference host library (ICDHandler).
#if defined(ICD_HOST_BUILDING)
#define ICD_HOST_API ICD_DLL_EXPORT
#else
#define ICD_HOST_API ICD_DLL_IMPORT
#endif

// Interpreter library (_interpreter).
#if defined(PY_INTERP_BUILDING)
#define PY_INTERP_API ICD_DLL_EXPORT
#else
#define PY_INTERP_API ICD_DLL_IMPORT
#endif

// Dialog library (_qtinterpreter).
#if defined(QT_INTERP_BUILDING)
#define QT_INTERP_API ICD_DLL_EXPORT
#else
#define QT_INTERP_API ICD_DLL_IMPORT
#endif

// The plug-in library (ProxyPythonPlugin).
#if defined(PPP_BUILDING)
#define PPP_API ICD_DLL_EXPORT
#else
#define PPP_API ICD_DLL_IMPORT
#endif

namespace ProxyPythonPluginPlatform {

// Asks the desktop to open `path` with its default application (ShellExecuteA "open" on Windows,
// xdg-open here). Does not wait and reports nothing: a missing file or viewer is ignored.
PPP_API void openDocument(const std::string& path);

// Sleeps the calling thread (Sleep on Windows).
PPP_API void pauseMilliseconds(unsigned int milliseconds);

}  // namespace ProxyPythonPluginPlatform
