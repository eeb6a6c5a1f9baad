// The ICD loader behind ICDHandler::load, on a file's text already read. Internal to the host
// library and its fuzz target.
#pragma once

#include <memory>
#include <string>

class ICDHandler;

namespace icdhost_loader {

// A new handler made from `text`, the contents of the file `path` (named in errors and kept as
// the handler's configuration file name); null with the one-line error in `error` when the text
// has any fault.
std::unique_ptr<ICDHandler> loadText(const std::string& text, const std::string& path,
                                     std::string* error);

}  // namespace icdhost_loader
