// Conversions run outside the field's lock, so two of them may finish in the opposite order to the
// one they started in. An older one finishing last must not overwrite what a newer one stored:
// the raw form ends as the conversion of the last value set (or the value as that of the last
// raw form received). Each test holds the older conversion inside its transcoder until the newer
// one has finished.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "tests/host/HostTestSupport.h"
#include "tests/support/Watchdog.h"

using namespace std::chrono_literals;

namespace {

// Encodes v as v * scale and decodes r as r / scale; the conversion of `held` waits in the
// transcoder until released, after telling that it has started.
class HeldIntTranscoder : public ICDGenericTranscoder<int> {
public:
    explicit HeldIntTranscoder(long long held, unsigned scale = 10)
        : ICDGenericTranscoder<int>("held"), _held(held), _scale(scale) {}
    bool encode(int value, unsigned long long* raw) override {
        holdIf(value);
        *raw = static_cast<unsigned long long>(value) * _scale;
        return true;
    }
    bool decode(unsigned long long raw, int* value) override {
        holdIf(static_cast<long long>(raw));
        *value = static_cast<int>(raw / _scale);
        return true;
    }
    bool decode(long long raw, int* value) override {
        return decode(static_cast<unsigned long long>(raw), value);
    }

    std::promise<void> started;
    std::promise<void> release;

private:
    void holdIf(long long what) {
        if (what == _held) {
            started.set_value();
            release.get_future().wait();
        }
    }
    long long _held;
    unsigned _scale;
};

class HeldStringTranscoder : public ICDStringTranscoder {
public:
    explicit HeldStringTranscoder(std::string held) : ICDStringTranscoder("held"), _held(held) {}
    bool encode(std::string value, std::string* raw) override {
        holdIf(value);
        *raw = "<" + value + ">";
        return true;
    }
    bool decode(std::string raw, std::string* value) override {
        holdIf(raw);
        *value = raw.substr(1, raw.size() - 2);
        return true;
    }

    std::promise<void> started;
    std::promise<void> release;

private:
    void holdIf(const std::string& what) {
        if (what == _held) {
            started.set_value();
            release.get_future().wait();
        }
    }
    std::string _held;
};

using ConversionsFinishingOutOfOrder = HostFixture;

// Starts `older` on a thread, waits until its transcoder holds it, runs `newer`, then lets the
// older one finish.
template <typename Transcoder, typename Older, typename Newer>
void olderFinishesLast(Transcoder& transcoder, Older older, Newer newer) {
    Watchdog watchdog("a held conversion", 30s);
    std::thread thread(older);
    transcoder.started.get_future().wait();
    newer();
    transcoder.release.set_value();
    thread.join();
}

TEST_F(ConversionsFinishingOutOfOrder, AnOlderEncodeFinishingLastLeavesTheNewerValuesRawWord) {
    ICDGenericMessageField* field = this->field(ICD_TYPE_INT);
    auto* transcoder = new HeldIntTranscoder(1);
    ASSERT_TRUE(field->setTranscoder(transcoder));
    bool olderEncoded = false;
    olderFinishesLast(
        *transcoder,
        [&] {
            field->setValue(ICDGenericMessageField::Value(1));
            olderEncoded = field->encode();
        },
        [&] {
            field->setValue(ICDGenericMessageField::Value(2));
            field->encode();
        });
    EXPECT_TRUE(olderEncoded) << "the older encode is not a failure, only superseded";
    EXPECT_EQ(field->valueText() + " " + field->rawText(), "2 20");
}

TEST_F(ConversionsFinishingOutOfOrder, AnOlderEncodeFinishingLastLeavesARawWordReceivedMeanwhile) {
    ICDGenericMessageField* field = this->field(ICD_TYPE_INT);
    auto* transcoder = new HeldIntTranscoder(1);
    ASSERT_TRUE(field->setTranscoder(transcoder));
    olderFinishesLast(
        *transcoder,
        [&] {
            field->setValue(ICDGenericMessageField::Value(1));
            field->encode();
        },
        [&] { field->decode(70, false); });
    EXPECT_EQ(field->valueText() + " " + field->rawText(), "7 70");
}

TEST_F(ConversionsFinishingOutOfOrder, AnOlderDecodeFinishingLastLeavesTheValueSetAndEncodedSince) {
    ICDGenericMessageField* field = this->field(ICD_TYPE_INT);
    auto* transcoder = new HeldIntTranscoder(90);
    ASSERT_TRUE(field->setTranscoder(transcoder));
    olderFinishesLast(
        *transcoder, [&] { field->decode(90, false); },
        [&] {
            field->setValue(ICDGenericMessageField::Value(4));
            field->encode();
        });
    EXPECT_EQ(field->valueText() + " " + field->rawText(), "4 40");
    // The same value encoded again, by a transcoder installed since, still stores its raw word.
    ASSERT_TRUE(field->setTranscoder(new HeldIntTranscoder(-1, 100)));
    ASSERT_TRUE(field->encode());
    EXPECT_EQ(field->valueText() + " " + field->rawText(), "4 400");
}

TEST_F(ConversionsFinishingOutOfOrder, TextFieldsKeepTheNewestOfEachSideToo) {
    ICDGenericMessageField* field = this->field(ICD_TYPE_STRING);
    auto* transcoder = new HeldStringTranscoder("old");
    ASSERT_TRUE(field->setTranscoder(transcoder));
    olderFinishesLast(
        *transcoder,
        [&] {
            field->setValue(ICDGenericMessageField::Value(std::string("old")));
            field->encode();
        },
        [&] {
            field->setValue(ICDGenericMessageField::Value(std::string("new")));
            field->encode();
        });
    EXPECT_EQ(field->valueText() + " " + field->rawText(), "\"new\" \"<new>\"");

    auto* decoding = new HeldStringTranscoder("<slow>");
    ASSERT_TRUE(field->setTranscoder(decoding));
    olderFinishesLast(
        *decoding, [&] { field->decodeText("<slow>"); }, [&] { field->decodeText("<fast>"); });
    EXPECT_EQ(field->valueText() + " " + field->rawText(), "\"fast\" \"<fast>\"");
}

}  // namespace
