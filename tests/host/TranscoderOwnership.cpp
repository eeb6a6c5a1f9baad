#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <sstream>

#include "tests/host/HostTestSupport.h"
#include "tests/support/Watchdog.h"

namespace {

class TestStringTranscoder : public ICDStringTranscoder {
public:
    TestStringTranscoder(std::string name, std::atomic<int>*) : ICDStringTranscoder(name) {}
    bool encode(std::string, std::string*) override { return true; }
    bool decode(std::string, std::string*) override { return true; }
};

template <typename T>
using TT = TestTranscoder<T>;

class TranscoderOwnership : public HostFixture {
protected:
    // Offers a transcoder named after its value type; a refused one must still be alive (the
    // caller's). Answers the name when it was taken.
    template <typename Transcoder>
    std::string offer(ICDGenericMessageField* made, const char* name) {
        const int before = destroyed;
        auto* transcoder = new Transcoder(name, &destroyed);
        if (made->setTranscoder(transcoder)) {
            return name;
        }
        EXPECT_EQ(destroyed, before) << "a refused transcoder was deleted";
        delete transcoder;
        return "";
    }
};

TEST_F(TranscoderOwnership, EachTypeCodeTakesOnlyTheTranscoderOfItsValueType) {
    // The name of the type each code from 501 to 514 takes; 501 and 514 have none.
    std::istringstream takers(
        "default uint short ushort int uint long ulong ll ull float double "
        "string default");
    for (unsigned int code = 501; code <= 514; ++code) {
        std::string name;
        takers >> name;
        ICDGenericMessageField* made = field(code);
        const std::string taken =
            offer<TT<unsigned short>>(made, "ushort") + offer<TT<short>>(made, "short") +
            offer<TT<unsigned int>>(made, "uint") + offer<TT<int>>(made, "int") +
            offer<TT<unsigned long>>(made, "ulong") + offer<TT<long>>(made, "long") +
            offer<TT<unsigned long long>>(made, "ull") + offer<TT<long long>>(made, "ll") +
            offer<TT<float>>(made, "float") + offer<TT<double>>(made, "double") +
            offer<TestStringTranscoder>(made, "string");
        EXPECT_EQ(taken + "/" + made->getEncoderName(),
                  (name == "default" ? "" : name) + "/" + name)
            << "type code " << code;
    }
}

// The field's lock is not held while a transcoder runs: it may wait for an interpreter lock that
// a thread using the field holds.
TEST_F(TranscoderOwnership, AReplacedTranscoderIsDeletedOnceWhenItsCallEndsAndTheLastWithTheField) {
    Watchdog watchdog("a transcoder replaced during its call", std::chrono::seconds(20));
    ICDGenericMessageField* made = field(ICD_TYPE_ULONGLONG);
    auto* slow = new TestTranscoder<unsigned long long>("slow", &destroyed);
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    slow->hook = [&] {
        entered.set_value();
        released.wait();
    };
    ASSERT_TRUE(made->setTranscoder(slow));
    std::future<bool> encoding = std::async(std::launch::async, [&] { return made->encode(); });
    entered.get_future().wait();
    ASSERT_TRUE(made->setTranscoder(new TestTranscoder<unsigned long long>("fast", &destroyed)));
    EXPECT_EQ(destroyed, 0) << "deleted while its encode still ran";
    EXPECT_EQ(made->getEncoderName() + made->valueText(), "fast0");
    release.set_value();
    EXPECT_TRUE(encoding.get());
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(made->getRaw(), 0xABu);
    handler.reset();
    EXPECT_EQ(destroyed, 2);
}

}  // namespace
