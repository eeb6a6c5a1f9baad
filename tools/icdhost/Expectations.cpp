// The expect commands: checks inside a scenario. A mismatch is reported as
// "icdhost: line N: expected ..., got ..." and the run goes on; icdhost's exit status then tells
// that an expectation failed. Wrong arguments are ordinary command errors.
#include <climits>
#include <cmath>
#include <cstdlib>

#include "CommandRunner.h"
#include "ICDMessageField.h"
#include "ICDPluginAction.h"
#include "ICDPluginObject.h"
#include "Output.h"
#include "PyInterpreter.h"
#include "PluginLibrary.h"
#include "ValueText.h"

namespace icdhost {

namespace {

// A number that C's strtod reads whole.
bool readNumber(const std::string& text, double* number) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    *number = std::strtod(text.c_str(), &end);
    return *end == '\0';
}

// Whether `expected` (as written in the command) names the value that get shows as `shown`:
// the same text; for a string field also the text without its quotes; for a number also the
// same number written otherwise (0x10 for 16, 1.50 for 1.5, 0.1 for a float field's 0.100000001).
bool sameValue(ICDGenericMessageField* field, const Word& expected, const std::string& shown) {
    if (expected.text == shown) {
        return true;
    }
    const unsigned int type = field->getDataType();
    if (type == ICD_TYPE_STRING) {
        return quoteText(expected.text) == shown;
    }
    if (type == ICD_TYPE_FLOAT || type == ICD_TYPE_DOUBLE) {
        double want = 0;
        double have = 0;
        if (!readNumber(expected.text, &want) || !readNumber(shown, &have)) {
            return false;
        }
        // %.9g and %.17g give back the stored value exactly; the expected one is rounded alike.
        return type == ICD_TYPE_FLOAT ? static_cast<float>(want) == static_cast<float>(have)
                                      : want == have || (std::isnan(want) && std::isnan(have));
    }
    if (std::optional<long long> want = parseSigned(expected.text, LLONG_MIN, LLONG_MAX)) {
        std::optional<long long> have = parseSigned(shown, LLONG_MIN, LLONG_MAX);
        return have && *have == *want;
    }
    std::optional<unsigned long long> want = parseUnsigned(expected.text, ULLONG_MAX);
    std::optional<unsigned long long> have = parseUnsigned(shown, ULLONG_MAX);
    return want && have && *want == *have;
}

}  // namespace

bool CommandRunner::yesNo(const Word& word, const std::string& command) {
    if (word.text != "yes" && word.text != "no") {
        throw Error(command + ": '" + word.text + "' is neither yes nor no");
    }
    return word.text == "yes";
}

void CommandRunner::reportMismatch(const std::string& expected, const std::string& got) {
    printCommandError(_lineNumber, "expected " + expected + ", got " + got);
    _anyExpectationFailed = true;
}

void CommandRunner::expectValue(const std::vector<Word>& args) {
    requireArgs(args, 2, 2);
    ICDGenericMessageField* field = findField(args[0]);
    const std::string shown = field->valueText();
    if (!sameValue(field, args[1], shown)) {
        reportMismatch(args[0].text + " value=" + args[1].text, "value=" + shown);
    }
}

void CommandRunner::expectRaw(const std::vector<Word>& args) {
    requireArgs(args, 2, 2);
    ICDGenericMessageField* field = findField(args[0]);
    const std::string shown = field->rawText();
    bool same = false;
    if (field->getDataType() == ICD_TYPE_STRING) {
        same = args[1].text == shown || quoteText(args[1].text) == shown;
    } else {
        std::optional<unsigned long long> raw = parseRawWord(args[1].text);
        if (!raw) {
            throw Error("expect-raw: '" + args[1].text + "' is not a raw word");
        }
        same = *raw == field->getRaw();
    }
    if (!same) {
        reportMismatch(args[0].text + " raw=" + args[1].text, "raw=" + shown);
    }
}

void CommandRunner::expectChecked(const std::vector<Word>& args) {
    requireArgs(args, 2, 2);
    ICDPluginObject* plugin = selectedPlugin();
    unsigned int id = parseActionId(args[0]);
    const bool want = yesNo(args[1], "expect-checked");
    bool checked = false;
    {
        PySession::Use use(sessionOf(plugin));
        ICDPluginAction* action = findAction(plugin, id, false);
        if (action == nullptr) {
            throw Error("expect-checked: no action " + args[0].text + " in plug-in " +
                        std::to_string(_plugin));
        }
        checked = action->getChecked();
    }
    if (checked != want) {
        reportMismatch("action " + args[0].text + " checked=" + args[1].text,
                       std::string("checked=") + (checked ? "yes" : "no"));
    }
}

void CommandRunner::expectName(const std::vector<Word>& args) {
    requireArgs(args, 1, 1);
    const std::string name = selectedPlugin()->getName();
    if (name != args[0].text) {
        reportMismatch("plug-in " + std::to_string(_plugin) + " name " + quoteText(args[0].text),
                       quoteText(name));
    }
}

void CommandRunner::expectRunning(const std::vector<Word>& args) {
    requireArgs(args, 1, 1);
    ICDPluginObject* plugin = selectedPlugin();
    const bool want = yesNo(args[0], "expect-running");
    const int state = _host.library != nullptr ? _host.library->isRunning(plugin) : -1;
    if (state < 0) {
        throw Error("expect-running: the plug-in library cannot tell whether plug-in " +
                    std::to_string(_plugin) + " runs");
    }
    const bool running = state == 1;
    if (running != want) {
        reportMismatch("plug-in " + std::to_string(_plugin) + " running=" + args[0].text,
                       std::string("running=") + (running ? "yes" : "no"));
    }
}

}  // namespace icdhost
