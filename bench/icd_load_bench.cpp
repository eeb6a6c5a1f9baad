// Loading a large ICD file (500 messages of 20 fields, every type, each with an initial value):
// the XML parse, the conformance check and building the handler with every field encoded once.
// Measured on the idle machine: about 25 ms of CPU before the conformance check was added,
// about 26 ms with it (the target: within 2x of the loader without it).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "ICDHandler.h"

namespace {

constexpr int kMessages = 500;
constexpr int kFieldsPerMessage = 20;

// The file, written once, removed when the program ends.
struct LargeIcd {
    std::string path;
    ~LargeIcd() { std::remove(path.c_str()); }
};

std::string largeIcdPath() {
    static const LargeIcd icd{[] {
        const char* types[][2] = {{"bits", "0x1F"},
                                  {"short", "-12"},
                                  {"ushort", "65535"},
                                  {"int", "-70000"},
                                  {"uint", "4000000000"},
                                  {"long", "-5"},
                                  {"ulong", "7"},
                                  {"longlong", "-9000000000"},
                                  {"ulonglong", "0xFFFFFFFFFFFFFFFF"},
                                  {"float", "1.5"},
                                  {"double", "-2e-3"},
                                  {"string", "idle &amp; ready"}};
        const std::string file = "/tmp/ppp-bench-large-icd-" + std::to_string(getpid()) + ".xml";
        std::ofstream out(file);
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<icd name=\"LARGE_BUS\">\n";
        int n = 0;
        for (int m = 0; m < kMessages; ++m) {
            out << "  <message name=\"MSG_" << m << "\">\n";
            for (int f = 0; f < kFieldsPerMessage; ++f, ++n) {
                const auto& type = types[n % 12];
                out << "    <field name=\"field_" << f << "\" type=\"" << type[0] << "\" value=\""
                    << type[1] << "\"/>\n";
            }
            out << "  </message>\n";
        }
        out << "</icd>\n";
        return file;
    }()};
    return icd.path;
}

void BM_IcdLoad10000Fields(benchmark::State& state) {
    const std::string path = largeIcdPath();
    for (auto _ : state) {
        std::string error;
        auto handler = ICDHandler::load(path, &error);
        if (!handler) {
            state.SkipWithError(error.c_str());
            break;
        }
        benchmark::DoNotOptimize(handler);
    }
    state.counters["fields"] = kMessages * kFieldsPerMessage;
}
BENCHMARK(BM_IcdLoad10000Fields)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace
