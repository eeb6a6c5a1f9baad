#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Barrier.h"
#include "HostTestSupport.h"
#include "Watchdog.h"

namespace {

// Encodes every value as `encodedRaw`; the unsigned decode yields 1 and the signed one 2, so a
// test sees which overload the field called. `hook`, when set, runs inside every call.
template <typename T>
class TestTranscoder : public ICDGenericTranscoder<T> {
public:
    TestTranscoder(std::string name, std::atomic<int>* destroyed,
                   unsigned long long encodedRaw = 0xAB)
        : ICDGenericTranscoder<T>(std::move(name)),
          _destroyed(destroyed),
          _encodedRaw(encodedRaw) {}
    ~TestTranscoder() override { ++*_destroyed; }

    bool encode(T value, unsigned long long* raw) override {
        runHook();
        lastEncoded = value;
        *raw = _encodedRaw;
        return succeed;
    }
    bool decode(unsigned long long /*raw*/, T* value) override {
        runHook();
        *value = static_cast<T>(1);
        return succeed;
    }
    bool decode(long long /*raw*/, T* value) override {
        runHook();
        *value = static_cast<T>(2);
        return succeed;
    }

    std::function<void()> hook;
    bool succeed = true;
    T lastEncoded{};

private:
    void runHook() {
        if (hook) {
            hook();
        }
    }
    std::atomic<int>* _destroyed;
    unsigned long long _encodedRaw;
};

class TestStringTranscoder : public ICDStringTranscoder {
public:
    TestStringTranscoder(std::string name, std::atomic<int>* destroyed)
        : ICDStringTranscoder(std::move(name)), _destroyed(destroyed) {}
    ~TestStringTranscoder() override { ++*_destroyed; }
    bool encode(std::string value, std::string* raw) override {
        *raw = "<" + value + ">";
        return true;
    }
    bool decode(std::string raw, std::string* value) override {
        *value = raw.size() >= 2 ? raw.substr(1, raw.size() - 2) : std::string();
        return true;
    }

private:
    std::atomic<int>* _destroyed;
};

template <typename T>
class ThrowingTranscoder : public ICDGenericTranscoder<T> {
public:
    ThrowingTranscoder() : ICDGenericTranscoder<T>("throwing") {}
    bool encode(T, unsigned long long*) override { throw std::runtime_error("encode"); }
    bool decode(unsigned long long, T*) override { throw std::runtime_error("decode"); }
    bool decode(long long, T*) override { throw std::runtime_error("decode"); }
};

class TranscoderOwnership : public testing::Test {
protected:
    ICDGenericMessageField* field(unsigned int code) {
        return _message->addField("f" + std::to_string(_count++), code);
    }

    std::atomic<int> _destroyed{0};
    std::unique_ptr<ICDHandler> _handler = std::make_unique<ICDHandler>("BUS", "bus.xml", 1000);
    ICDMessage* _message = _handler->addMessage("MSG", false);
    int _count = 0;
};

// Offers the field one transcoder of each of the eleven kinds, in the interface's order, and
// answers which it took. Refused ones must still be alive (the caller's); the test deletes them.
template <typename T>
bool offer(ICDGenericMessageField* field, std::atomic<int>* destroyed) {
    const int before = destroyed->load();
    auto* transcoder = new TestTranscoder<T>("offered", destroyed);
    const bool accepted = field->setTranscoder(transcoder);
    if (!accepted) {
        EXPECT_EQ(destroyed->load(), before) << "a refused transcoder was deleted";
        delete transcoder;
    }
    return accepted;
}

std::vector<int> acceptedKinds(ICDGenericMessageField* field, std::atomic<int>* destroyed) {
    std::vector<bool> taken = {offer<unsigned short>(field, destroyed),
                               offer<short>(field, destroyed),
                               offer<unsigned int>(field, destroyed),
                               offer<int>(field, destroyed),
                               offer<unsigned long>(field, destroyed),
                               offer<long>(field, destroyed),
                               offer<unsigned long long>(field, destroyed),
                               offer<long long>(field, destroyed),
                               offer<float>(field, destroyed),
                               offer<double>(field, destroyed)};
    auto* text = new TestStringTranscoder("offered", destroyed);
    const int before = destroyed->load();
    taken.push_back(field->setTranscoder(text));
    if (!taken.back()) {
        EXPECT_EQ(destroyed->load(), before);
        delete text;
    }
    std::vector<int> kinds;
    for (std::size_t i = 0; i < taken.size(); ++i) {
        if (taken[i]) {
            kinds.push_back(static_cast<int>(i));
        }
    }
    return kinds;
}

TEST_F(TranscoderOwnership, EachTypeCodeTakesOnlyTheTranscoderOfItsValueType) {
    // Kinds in the interface's order: 0 ushort, 1 short, 2 uint, 3 int, 4 ulong, 5 long,
    // 6 ulonglong, 7 longlong, 8 float, 9 double, 10 string.
    const std::vector<std::pair<unsigned int, std::vector<int>>> expected = {
        {ICD_TYPE_BITS, {2}},
        {ICD_TYPE_SHORT, {1}},
        {ICD_TYPE_USHORT, {0}},
        {ICD_TYPE_INT, {3}},
        {ICD_TYPE_UINT, {2}},
        {ICD_TYPE_LONG, {5}},
        {ICD_TYPE_ULONG, {4}},
        {ICD_TYPE_LONGLONG, {7}},
        {ICD_TYPE_ULONGLONG, {6}},
        {ICD_TYPE_FLOAT, {8}},
        {ICD_TYPE_DOUBLE, {9}},
        {ICD_TYPE_STRING, {10}},
        {501, {}},
        {514, {}},
        {0, {}}};
    for (const auto& [code, kinds] : expected) {
        ICDGenericMessageField* made = field(code);
        EXPECT_EQ(acceptedKinds(made, &_destroyed), kinds) << "type code " << code;
        EXPECT_EQ(made->getEncoderName(), kinds.empty() ? "default" : "offered");
    }
}

TEST_F(TranscoderOwnership, ANullTranscoderIsRefusedAndTheCurrentOneKept) {
    ICDGenericMessageField* made = field(ICD_TYPE_INT);
    ASSERT_TRUE(made->setTranscoder(new TestTranscoder<int>("first", &_destroyed)));
    EXPECT_FALSE(made->setTranscoder(static_cast<ICDGenericTranscoder<int>*>(nullptr)));
    EXPECT_EQ(made->getEncoderName(), "first");
    EXPECT_EQ(_destroyed.load(), 0);
    EXPECT_FALSE(field(ICD_TYPE_STRING)->setTranscoder(static_cast<ICDStringTranscoder*>(nullptr)));
}

TEST_F(TranscoderOwnership, AReplacedTranscoderIsDeletedOnceAndTheLastOneWithTheField) {
    ICDGenericMessageField* made = field(ICD_TYPE_DOUBLE);
    ASSERT_TRUE(made->setTranscoder(new TestTranscoder<double>("first", &_destroyed)));
    ASSERT_TRUE(made->setTranscoder(new TestTranscoder<double>("second", &_destroyed)));
    EXPECT_EQ(_destroyed.load(), 1);
    EXPECT_EQ(made->getEncoderName(), "second");
    _handler.reset();
    EXPECT_EQ(_destroyed.load(), 2);
}

TEST_F(TranscoderOwnership, EncodeAndDecodeGoThroughTheInstalledTranscoder) {
    ICDGenericMessageField* made = field(ICD_TYPE_SHORT);
    auto* transcoder = new TestTranscoder<short>("scaled", &_destroyed, 0x1234);
    ASSERT_TRUE(made->setTranscoder(transcoder));
    ASSERT_TRUE(made->setValue(short{-5}));
    ASSERT_TRUE(made->encode());
    EXPECT_EQ(transcoder->lastEncoded, -5);
    EXPECT_EQ(made->getRaw(), 0x1234u);
    ASSERT_TRUE(made->decode(0xFFFF, false));
    EXPECT_EQ(made->valueText(), "1") << "the unsigned decode";
    ASSERT_TRUE(made->decode(0xFFFF, true));
    EXPECT_EQ(made->valueText(), "2") << "the signed decode";
    EXPECT_EQ(made->getRaw(), 0xFFFFu);
}

TEST_F(TranscoderOwnership, AFailingTranscoderLeavesTheValueAndRawForm) {
    ICDGenericMessageField* made = field(ICD_TYPE_UINT);
    ASSERT_TRUE(made->setValue(9u));
    ASSERT_TRUE(made->encode());
    auto* transcoder = new TestTranscoder<unsigned int>("failing", &_destroyed, 77);
    transcoder->succeed = false;
    ASSERT_TRUE(made->setTranscoder(transcoder));
    EXPECT_FALSE(made->encode());
    EXPECT_EQ(made->getRaw(), 9u);
    EXPECT_FALSE(made->decode(3, false));
    EXPECT_EQ(made->valueText(), "9");
    EXPECT_EQ(made->getRaw(), 3u) << "the bus word itself is kept";
}

TEST_F(TranscoderOwnership, AThrowingTranscoderIsAFailedConversion) {
    ICDGenericMessageField* made = field(ICD_TYPE_FLOAT);
    ASSERT_TRUE(made->setTranscoder(new ThrowingTranscoder<float>()));
    EXPECT_FALSE(made->encode());
    EXPECT_FALSE(made->decode(1, true));
    EXPECT_EQ(made->valueText(), "0");
}

TEST_F(TranscoderOwnership, AStringTranscoderConvertsTheText) {
    ICDGenericMessageField* made = field(ICD_TYPE_STRING);
    ASSERT_TRUE(made->setTranscoder(new TestStringTranscoder("brackets", &_destroyed)));
    ASSERT_TRUE(made->setValue(std::string("on")));
    ASSERT_TRUE(made->encode());
    EXPECT_EQ(made->getRawText(), "<on>");
    ASSERT_TRUE(made->decodeText("<off>"));
    EXPECT_EQ(made->valueText(), "\"off\"");
    EXPECT_EQ(made->getEncoderName(), "brackets");
}

// A transcoder may wait for code on another thread (an interpreter lock) that uses the field.
TEST_F(TranscoderOwnership, NoFieldLockIsHeldWhileATranscoderRuns) {
    Watchdog watchdog("NoFieldLockIsHeldWhileATranscoderRuns", std::chrono::seconds(20));
    ICDGenericMessageField* made = field(ICD_TYPE_INT);
    auto* transcoder = new TestTranscoder<int>("waiting", &_destroyed);
    std::string seenInside;
    transcoder->hook = [&] {
        seenInside = made->getEncoderName() + " " + made->valueText();
        std::thread other([&] {
            made->setValue(41);
            made->getRaw();
            made->setTranscoder(static_cast<ICDGenericTranscoder<int>*>(nullptr));
        });
        other.join();
    };
    ASSERT_TRUE(made->setTranscoder(transcoder));
    EXPECT_TRUE(made->encode());
    EXPECT_EQ(seenInside, "waiting 0");
    EXPECT_EQ(made->valueText(), "41");
    EXPECT_TRUE(made->decode(5, true));
}

TEST_F(TranscoderOwnership, ATranscoderReplacedDuringItsCallLivesUntilTheCallEnds) {
    Watchdog watchdog("ATranscoderReplacedDuringItsCallLivesUntilTheCallEnds",
                      std::chrono::seconds(20));
    ICDGenericMessageField* made = field(ICD_TYPE_ULONGLONG);
    auto* slow = new TestTranscoder<unsigned long long>("slow", &_destroyed, 555);
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
    ASSERT_TRUE(made->setTranscoder(new TestTranscoder<unsigned long long>("fast", &_destroyed)));
    EXPECT_EQ(_destroyed.load(), 0) << "deleted while its encode still ran";
    EXPECT_EQ(made->getEncoderName(), "fast");
    release.set_value();
    EXPECT_TRUE(encoding.get());
    EXPECT_EQ(_destroyed.load(), 1);
    EXPECT_EQ(made->getRaw(), 555u);
}

TEST_F(TranscoderOwnership, SeveralThreadsConvertSetAndReplaceOneFieldAtOnce) {
    Watchdog watchdog("SeveralThreadsConvertSetAndReplaceOneFieldAtOnce", std::chrono::seconds(60));
    ICDGenericMessageField* made = field(ICD_TYPE_INT);
    constexpr int rounds = 2000;
    constexpr int replacers = 2;
    Barrier start(5);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    threads.emplace_back([&] {
        start.arriveAndWait();
        for (int i = 0; i < rounds; ++i) {
            failures += made->encode() ? 0 : 1;
        }
    });
    threads.emplace_back([&] {
        start.arriveAndWait();
        for (int i = 0; i < rounds; ++i) {
            failures += made->decode(static_cast<unsigned long long>(i), (i & 1) != 0) ? 0 : 1;
        }
    });
    threads.emplace_back([&] {
        start.arriveAndWait();
        for (int i = 0; i < rounds; ++i) {
            failures += made->setValue(i) ? 0 : 1;
            made->valueText();
            made->getEncoderName();
        }
    });
    for (int r = 0; r < replacers; ++r) {
        threads.emplace_back([&] {
            start.arriveAndWait();
            for (int i = 0; i < rounds / 10; ++i) {
                failures += made->setTranscoder(new TestTranscoder<int>("t", &_destroyed)) ? 0 : 1;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(_destroyed.load(), replacers * (rounds / 10) - 1);
    _handler.reset();
    EXPECT_EQ(_destroyed.load(), replacers * (rounds / 10));
}

}  // namespace
