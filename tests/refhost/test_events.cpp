#include "TEventManager.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>

using namespace refhost;

namespace {

struct TSubscriber {
    pallux::TEventSubscriberToken Token;
    std::vector<std::string>* Seen;
    explicit TSubscriber(pallux::IEventManager& events, std::vector<std::string>* seen) : Seen(seen) {
        events.Subscribe("E", Token.Bind<&TSubscriber::Handle>(this));
    }
    void Handle(const std::string& name, const std::string& data, std::int64_t) {
        Seen->push_back(name + ":" + data);
    }
};

// Handlers that record into a shared list.
struct TRecorder {
    pallux::TEventSubscriberToken Token;
    std::vector<std::string> Seen;
    std::function<void()> OnFirst;
    void First(const std::string&, const std::string& d, std::int64_t) {
        Seen.push_back("1" + d);
        if (OnFirst)
            OnFirst();
    }
    void Second(const std::string&, const std::string& d, std::int64_t) { Seen.push_back("2" + d); }
    void Other(const std::string&, const std::string& d, std::int64_t) { Seen.push_back("F" + d); }
};

} // namespace

TEST(EventManagerTest, CallsEachLiveHandlerOnceInSubscriptionOrder) {
    auto events = pallux::MakeIntf<TEventManager, TEventManager>();
    TRecorder r;
    events->Subscribe("E", r.Token.Bind<&TRecorder::First>(&r));
    events->Subscribe("E", r.Token.Bind<&TRecorder::Second>(&r));
    events->Subscribe("F", r.Token.Bind<&TRecorder::Other>(&r));
    events->RaiseEvent("E", "x", 0);
    EXPECT_EQ(r.Seen, (std::vector<std::string>{"1x", "2x"}));
    events->RaiseEvent("nobody", "", 0);
    EXPECT_EQ(r.Seen.size(), 2u);
}

TEST(EventManagerTest, HandlersOfDestroyedObjectsAreNeitherCalledNorKept) {
    auto events = pallux::MakeIntf<TEventManager, TEventManager>();
    std::vector<std::string> seen;
    auto survivor = std::make_unique<TSubscriber>(*events, &seen);
    for (int i = 0; i < 10000; ++i)
        TSubscriber temporary(*events, &seen); // subscribes, then is destroyed
    EXPECT_LE(events->SubscriptionCount("E"), 2u) << "expired subscriptions are dropped as new ones arrive";
    events->RaiseEvent("E", "d", 0);
    EXPECT_EQ(seen, (std::vector<std::string>{"E:d"})) << "only the live object is called";
    survivor.reset();
    events->RaiseEvent("E", "d", 0);
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(events->SubscriptionCount("E"), 0u);
}

TEST(EventManagerTest, AHandlerMayDestroyALaterSubscriber) {
    auto events = pallux::MakeIntf<TEventManager, TEventManager>();
    std::vector<std::string> seen;
    std::unique_ptr<TSubscriber> victim;
    TRecorder killer;
    killer.OnFirst = [&] { victim.reset(); };
    events->Subscribe("E", killer.Token.Bind<&TRecorder::First>(&killer));
    victim = std::make_unique<TSubscriber>(*events, &seen);
    events->RaiseEvent("E", "d", 0);
    EXPECT_TRUE(seen.empty()) << "the destroyed subscriber was not called";
}

TEST(EventManagerTest, RejectsAnEmptyHandler) {
    auto events = pallux::MakeIntf<TEventManager, TEventManager>();
    EXPECT_THROW(events->Subscribe("E", {}), std::invalid_argument);
}
