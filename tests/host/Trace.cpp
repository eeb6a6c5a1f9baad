#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>

#include "tests/host/HostTestSupport.h"
#include "tests/support/CaptureOutput.h"

namespace {

using Trace = HostFixture;

TEST_F(Trace, EachPluginCallPrintsOneLineNamingTheCallTheItemsAndTheOutcome) {
    ICDMessage* spaced = handler->addMessage("A \"B\"", false);
    ICDGenericMessageField* blank = spaced->addField("c d", ICD_TYPE_INT);
    // Every call a plug-in makes into the host, each with its possible outcomes.
    auto pluginCalls = [&] {
        ICDUiObject holder;
        ICDUiObject other;
        TestTranscoder<unsigned short> wrongType("wrong type", &destroyed);
        handler->sendICDEvent(5);
        handler->raiseError("disk \"A\" full\nretry", 2);
        status->commitChanges();
        status->touch();
        status->commitSingleField(mode);
        status->commitSingleField(handler->findMessage("ENGINE")->findMessageField("rpm"));
        mode->setReservationTo(&holder);
        mode->setReservationTo(&other);
        mode->releaseReservationTo(&other);
        mode->releaseReservationTo(&holder);
        mode->setTranscoder(new TestTranscoder<unsigned short>("Scaler", &destroyed));
        mode->setTranscoder(static_cast<ICDGenericTranscoder<unsigned short>*>(nullptr));
        handler->findMessage("ENGINE")->findMessageField("trim")->setTranscoder(&wrongType);
        spaced->commitSingleField(blank);
        mode->encode();  // host-side calls are not traced
        handler->deliverICDEvent(1, 0);
    };
    {
        CaptureOutput off;
        pluginCalls();
        ASSERT_EQ(off.out(), "") << "the trace is off";
    }
    ICDHost::setTrace(true);
    CaptureOutput capture;
    std::printf("before\n");
    pluginCalls();
    EXPECT_EQ(capture.out(),
              "before\n"
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
              "host: setTranscoder NAV_BUS ENGINE.trim encoder=\"wrong type\" -> refused\n"
              "host: commitSingleField NAV_BUS \"A \\\"B\\\"\".\"c d\" -> committed\n");
}

// Long lines from four threads: a line written in pieces would show as lines nobody traced.
TEST_F(Trace, LinesFromSeveralThreadsNeverMix) {
    ICDHost::setTrace(true);
    std::map<std::string, int> expected;
    std::map<std::string, int> printed;
    {
        CaptureOutput capture;
        onThreads(4, [&](int t) {
            for (int i = 0; i < 300; ++i) {
                handler->raiseError(std::string(200, static_cast<char>('a' + t)), t);
            }
        });
        std::istringstream lines(capture.out());
        for (std::string line; std::getline(lines, line);) {
            ++printed[line];
        }
    }
    for (int t = 0; t < 4; ++t) {
        expected["host: raiseError NAV_BUS severity=" + std::to_string(t) + " text=\"" +
                 std::string(200, static_cast<char>('a' + t)) + "\""] = 300;
    }
    EXPECT_EQ(printed, expected);
}

}  // namespace
