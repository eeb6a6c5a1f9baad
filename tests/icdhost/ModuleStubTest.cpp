// pymodule/proxyplugin.pyi must list the module's functions by their names, in the order of the
// module's method table, each docstring starting with the module's own documentation text.
#include <dlfcn.h>

#include <regex>

#include "IcdhostChild.h"

namespace icdhost_test {
namespace {

// Layout of CPython's PyMethodDef, stable across versions; this test does not build against
// Python and reads the table of the built plug-in library.
struct MethodEntry {
    const char* name;
    void* function;
    int flags;
    const char* doc;
};

struct StubFunction {
    std::string name;
    std::string firstDocLine;
};

std::vector<StubFunction> stubFunctions(const std::string& text) {
    // "def NAME(" at the start of a line, then the first line of its docstring.
    static const std::regex def("^def ([A-Za-z_][A-Za-z0-9_]*)\\(");
    std::vector<StubFunction> functions;
    std::istringstream in(text);
    std::string line;
    bool wantDoc = false;
    while (std::getline(in, line)) {
        std::smatch match;
        if (std::regex_search(line, match, def)) {
            functions.push_back({match[1], ""});
            wantDoc = true;
            continue;
        }
        std::size_t quotes = line.find("\"\"\"");
        if (wantDoc && quotes != std::string::npos) {
            std::string doc = line.substr(quotes + 3);
            std::size_t end = doc.find("\"\"\"");
            functions.back().firstDocLine = end == std::string::npos ? doc : doc.substr(0, end);
            wantDoc = false;
        }
    }
    return functions;
}

TEST(ModuleStub, ListsTheModulesFunctionsInMethodTableOrderWithTheirDocumentation) {
    const std::string library = std::string(PPP_LIBRARY_DIR) + "/libProxyPythonPlugin.so";
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    using MethodsFunction = MethodEntry* (*)();
    auto methods = reinterpret_cast<MethodsFunction>(dlsym(handle, "ProxyPluginPyModule_methods"));
    ASSERT_NE(methods, nullptr);

    std::vector<StubFunction> stub = stubFunctions(
        readFile(fs::path(PPP_EXAMPLES_DIR).parent_path() / "pymodule" / "proxyplugin.pyi"));
    std::vector<std::string> tableNames;
    for (MethodEntry* entry = methods(); entry->name != nullptr; ++entry) {
        tableNames.push_back(entry->name);
    }
    std::vector<std::string> stubNames;
    for (const StubFunction& function : stub) {
        stubNames.push_back(function.name);
    }
    ASSERT_EQ(tableNames.size(), 21u);
    ASSERT_EQ(stubNames, tableNames);

    std::size_t index = 0;
    for (MethodEntry* entry = methods(); entry->name != nullptr; ++entry, ++index) {
        EXPECT_EQ(stub[index].firstDocLine, entry->doc) << entry->name;
    }
}

}  // namespace
}  // namespace icdhost_test
