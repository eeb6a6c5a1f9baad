#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <thread>
#include <vector>

#include "Barrier.h"
#include "CaptureOutput.h"
#include "HostTestSupport.h"

namespace {

class NamedTranscoder : public ICDGenericTranscoder<unsigned short> {
public:
    explicit NamedTranscoder(std::string name) : ICDGenericTranscoder(std::move(name)) {}
    bool encode(unsigned short value, unsigned long long* raw) override {
        *raw = value;
        return true;
    }
    bool decode(unsigned long long raw, unsigned short* value) override {
        *value = static_cast<unsigned short>(raw);
        return true;
    }
    bool decode(long long raw, unsigned short* value) override {
        *value = static_cast<unsigned short>(raw);
        return true;
    }
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

class Trace : public testing::Test {
protected:
    void SetUp() override {
        _handler = loadHostData("nav_bus.xml");
        ASSERT_NE(_handler, nullptr);
        _status = _handler->findMessage("NAV_STATUS");
        _mode = _status->findMessageField("mode");
    }

    // Every call a plug-in makes into the host, each with its possible outcomes.
    void pluginCalls() {
        _handler->sendICDEvent(5);
        _handler->raiseError("disk \"A\" full\nretry", 2);
        _status->commitChanges();
        _status->touch();
        _status->commitSingleField(_mode);
        _status->commitSingleField(_handler->findMessage("ENGINE")->findMessageField("rpm"));
        _mode->setReservationTo(&_holder);
        _mode->setReservationTo(&_other);
        _mode->releaseReservationTo(&_other);
        _mode->releaseReservationTo(&_holder);
        _mode->setTranscoder(new NamedTranscoder("Scaler"));
        _mode->setTranscoder(static_cast<ICDGenericTranscoder<unsigned short>*>(nullptr));
        auto* wrongType = new NamedTranscoder("wrong type");
        _handler->findMessage("ENGINE")->findMessageField("trim")->setTranscoder(wrongType);
        delete wrongType;
    }

    HostControlsGuard _controls;
    std::unique_ptr<ICDHandler> _handler;
    ICDMessage* _status = nullptr;
    ICDGenericMessageField* _mode = nullptr;
    ICDUiObject _holder;
    ICDUiObject _other;
};

TEST_F(Trace, EachPluginCallPrintsOneLineNamingTheCallTheItemsAndTheOutcome) {
    ICDHost::setTrace(true);
    CaptureOutput capture;
    pluginCalls();
    EXPECT_EQ(capture.out(),
              "host: sendICDEvent NAV_BUS event=5\n"
              "host: raiseError NAV_BUS severity=2 text=\"disk \\\"A\\\" full\\nretry\"\n"
              "host: commitChanges NAV_BUS NAV_STATUS\n"
              "host: touch NAV_BUS NAV_STATUS\n"
              "host: commitSingleField NAV_BUS NAV_STATUS.mode -> committed\n"
              "host: commitSingleField NAV_BUS NAV_STATUS.rpm -> refused\n"
              "host: setReservationTo NAV_BUS NAV_STATUS.mode -> granted\n"
              "host: setReservationTo NAV_BUS NAV_STATUS.mode -> refused\n"
              "host: releaseReservationTo NAV_BUS NAV_STATUS.mode -> refused\n"
              "host: releaseReservationTo NAV_BUS NAV_STATUS.mode -> released\n"
              "host: setTranscoder NAV_BUS NAV_STATUS.mode encoder=Scaler -> accepted\n"
              "host: setTranscoder NAV_BUS NAV_STATUS.mode encoder=(none) -> refused\n"
              "host: setTranscoder NAV_BUS ENGINE.trim encoder=\"wrong type\" -> refused\n");
    EXPECT_EQ(capture.err(), "");
}

TEST_F(Trace, NothingIsPrintedWhenTheTraceIsOff) {
    EXPECT_FALSE(ICDHost::traceEnabled());
    CaptureOutput capture;
    pluginCalls();
    ICDHost::trace("not shown");
    EXPECT_EQ(capture.out(), "");
}

TEST_F(Trace, HostSideCallsAreNotTraced) {
    ICDHost::setTrace(true);
    CaptureOutput capture;
    _mode->encode();
    _mode->decode(3, false);
    _mode->setValueFromText("4", nullptr);
    _mode->getEncoderName();
    _handler->deliverICDEvent(1, 0);
    _handler->findMessage("NAV_STATUS");
    EXPECT_EQ(capture.out(), "");
}

TEST_F(Trace, NamesWithBlanksAreQuoted) {
    ICDHost::setTrace(true);
    ICDHandler spaced("MY BUS", "x.xml", 1000);
    ICDMessage* message = spaced.addMessage("A \"B\"", false);
    ICDGenericMessageField* field = message->addField("c d", ICD_TYPE_INT);
    CaptureOutput capture;
    spaced.sendICDEvent(1);
    message->commitSingleField(field);
    EXPECT_EQ(capture.out(),
              "host: sendICDEvent \"MY BUS\" event=1\n"
              "host: commitSingleField \"MY BUS\" \"A \\\"B\\\"\".\"c d\" -> committed\n");
}

TEST_F(Trace, ALineComesAfterWhatStdioPrintedBeforeIt) {
    ICDHost::setTrace(true);
    CaptureOutput capture;
    std::printf("before\n");
    _status->touch();
    std::printf("after\n");
    std::fflush(stdout);
    EXPECT_EQ(capture.out(), "before\nhost: touch NAV_BUS NAV_STATUS\nafter\n");
}

TEST_F(Trace, LinesFromSeveralThreadsNeverMix) {
    ICDHost::setTrace(true);
    constexpr int threads = 4;
    constexpr int calls = 300;
    CaptureOutput capture;
    Barrier start(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            start.arriveAndWait();
            for (int i = 0; i < calls; ++i) {
                if (t % 2 == 0) {
                    _handler->sendICDEvent(static_cast<unsigned int>(t * 1000 + i));
                } else {
                    _handler->raiseError(std::string(200, static_cast<char>('a' + t)), t);
                }
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    const std::vector<std::string> printed = lines(capture.out());
    ASSERT_EQ(printed.size(), static_cast<std::size_t>(threads * calls));
    const std::string eventPrefix = "host: sendICDEvent NAV_BUS event=";
    const std::string errorOne =
        "host: raiseError NAV_BUS severity=1 text=\"" + std::string(200, 'b') + "\"";
    const std::string errorThree =
        "host: raiseError NAV_BUS severity=3 text=\"" + std::string(200, 'd') + "\"";
    int malformed = 0;
    for (const std::string& line : printed) {
        const bool event =
            line.rfind(eventPrefix, 0) == 0 && line.size() > eventPrefix.size() &&
            line.find_first_not_of("0123456789", eventPrefix.size()) == std::string::npos;
        if (!event && line != errorOne && line != errorThree) {
            ++malformed;
        }
    }
    EXPECT_EQ(malformed, 0);
    EXPECT_EQ(_handler->errors().size(), static_cast<std::size_t>(2 * calls));
}

TEST_F(Trace, RaiseErrorKeepsEveryReport) {
    EXPECT_TRUE(_handler->raiseError("first", 3));
    EXPECT_TRUE(_handler->raiseError("second", -1));
    const auto errors = _handler->errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].text, "first");
    EXPECT_EQ(errors[0].severity, 3);
    EXPECT_EQ(errors[1].text, "second");
    EXPECT_EQ(errors[1].severity, -1);
}

}  // namespace
