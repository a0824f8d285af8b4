#include "TDIContainer.h"

#include <gtest/gtest.h>

using namespace refhost;
using pallux::IntfPtr;
using pallux::MakeIntf;

namespace {

class ICounter : public pallux::IInterface {
public:
    static constexpr pallux::TGUID IID{"{11111111-2222-3333-4444-555555555555}"};
    virtual int Next() = 0;
};

class IOther : public pallux::IInterface {
public:
    static constexpr pallux::TGUID IID{"{AAAAAAAA-2222-3333-4444-555555555555}"};
};

int gLiveCounters = 0;

class TCounter : public pallux::TInterfacedObject<ICounter> {
public:
    TCounter() { ++gLiveCounters; }
    ~TCounter() override { --gLiveCounters; }
    int Next() override { return ++FValue; }

private:
    int FValue = 0;
};

using TCounterFactory = pallux::TServiceFactory<TCounter, ICounter>;

class ContainerTest : public ::testing::Test {
protected:
    IntfPtr<TDIContainer> c = MakeIntf<TDIContainer, TDIContainer>();
    void SetUp() override { gLiveCounters = 0; }
};

} // namespace

TEST(GuidTest, ParsesPrintsAndCompares) {
    constexpr pallux::TGUID g{"{c477bcb1-f216-4d90-8c9f-55fd6416fd37}"};
    EXPECT_EQ(g.ToString(), "{C477BCB1-F216-4D90-8C9F-55FD6416FD37}");
    EXPECT_EQ(g, pallux::TGUID::Parse("{C477BCB1-F216-4D90-8C9F-55FD6416FD37}"));
    EXPECT_NE(g, pallux::TGUID::Parse("{C477BCB1-F216-4D90-8C9F-55FD6416FD38}"));
    EXPECT_LT(pallux::TGUID::Parse("{00000000-0000-0000-0000-000000000001}"),
              pallux::TGUID::Parse("{00000000-0000-0000-0000-000000000002}"));
    EXPECT_THROW(pallux::TGUID::Parse("C477BCB1-F216-4D90-8C9F-55FD6416FD37"), std::invalid_argument);
    EXPECT_THROW(pallux::TGUID::Parse("{C477BCB1-F216-4D90-8C9F-55FD6416FDZ7}"), std::invalid_argument);
}

TEST_F(ContainerTest, CreateInstanceBuildsANewObjectEachTime) {
    IntfPtr<ICounter> missing;
    EXPECT_FALSE(c->CreateInstance(missing));
    EXPECT_FALSE(missing);

    c->RegisterFactory(ICounter::IID, MakeIntf<TCounterFactory>().get());
    IntfPtr<ICounter> a, b;
    ASSERT_TRUE(c->CreateInstance(a));
    ASSERT_TRUE(c->CreateInstance(b));
    EXPECT_NE(a.get(), b.get());
    EXPECT_EQ(gLiveCounters, 2);
    a.reset();
    b.reset();
    EXPECT_EQ(gLiveCounters, 0) << "created objects live only as long as their callers hold them";
}

TEST_F(ContainerTest, SingletonIsCreatedOnFirstRequestAndHeldUntilReleased) {
    c->RegisterFactory(ICounter::IID, MakeIntf<TCounterFactory>().get());
    EXPECT_EQ(gLiveCounters, 0);
    IntfPtr<ICounter> a;
    ASSERT_TRUE(c->GetSingleton(a));
    EXPECT_EQ(a->Next(), 1);
    a.reset();
    EXPECT_EQ(gLiveCounters, 1) << "the container holds the singleton";

    IntfPtr<ICounter> b;
    ASSERT_TRUE(c->GetSingleton(b));
    EXPECT_EQ(b->Next(), 2) << "the same object is returned again";
    IntfPtr<ICounter> viaInstance;
    EXPECT_TRUE(c->GetInstance(viaInstance));
    EXPECT_EQ(viaInstance.get(), b.get());
    b.reset();
    viaInstance.reset();

    c->ReleaseInstance(ICounter::IID);
    EXPECT_EQ(gLiveCounters, 0);
    IntfPtr<ICounter> fresh;
    ASSERT_TRUE(c->GetSingleton(fresh));
    EXPECT_EQ(fresh->Next(), 1) << "after ReleaseInstance a new singleton is built";
}

TEST_F(ContainerTest, InstancesAndNamedFactories) {
    IntfPtr<ICounter> counter = MakeIntf<TCounter>();
    c->RegisterInstance(ICounter::IID, counter.get());
    IntfPtr<ICounter> got;
    ASSERT_TRUE(c->GetInstance(got));
    EXPECT_EQ(got.get(), counter.get());
    IntfPtr<IOther> wrong;
    EXPECT_FALSE(c->GetInstance(wrong)) << "no instance under another GUID";

    c->RegisterNamedFactory(ICounter::IID, "B", MakeIntf<TCounterFactory>().get());
    c->RegisterNamedFactory(ICounter::IID, "A", MakeIntf<TCounterFactory>().get());
    std::vector<std::string> names;
    c->GetFactoryNames(ICounter::IID, names);
    EXPECT_EQ(names, (std::vector<std::string>{"B", "A"}));
    IntfPtr<ICounter> named;
    EXPECT_TRUE(c->CreateNamedInstance("A", named));
    EXPECT_FALSE(c->CreateNamedInstance("C", named));
    IntfPtr<ICounter> unnamed;
    EXPECT_FALSE(c->CreateInstance(unnamed)) << "a named factory does not answer the unnamed look-up";

    c->UnregisterNamedFactory(ICounter::IID, "B");
    c->GetFactoryNames(ICounter::IID, names);
    EXPECT_EQ(names, (std::vector<std::string>{"A"}));
}

TEST_F(ContainerTest, ListsRegistrationsInOrderAndForgetsWithdrawnOnes) {
    c->RegisterFactory(ICounter::IID, MakeIntf<TCounterFactory>().get());
    c->RegisterNamedFactory(IOther::IID, "X", MakeIntf<TCounterFactory>().get());
    IntfPtr<ICounter> counter = MakeIntf<TCounter>();
    c->RegisterInstance(IOther::IID, counter.get());
    auto regs = c->Registrations();
    ASSERT_EQ(regs.size(), 3u);
    EXPECT_EQ(regs[0].Kind, TRegistrationKind::Factory);
    EXPECT_EQ(regs[1].Name, "X");
    EXPECT_EQ(regs[1].Kind, TRegistrationKind::NamedFactory);
    EXPECT_EQ(regs[2].Kind, TRegistrationKind::Instance);

    c->UnregisterFactory(ICounter::IID);
    c->UnregisterNamedFactory(IOther::IID, "X");
    c->ReleaseInstance(IOther::IID);
    EXPECT_TRUE(c->Registrations().empty());
    // Withdrawing what is not there is harmless.
    c->UnregisterFactory(ICounter::IID);
    c->ReleaseInstance(ICounter::IID);
}

TEST_F(ContainerTest, ReleasingTheContainerReleasesWhatItHolds) {
    {
        auto local = MakeIntf<TDIContainer, TDIContainer>();
        local->RegisterFactory(ICounter::IID, MakeIntf<TCounterFactory>().get());
        IntfPtr<ICounter> s;
        local->GetSingleton(s);
    }
    EXPECT_EQ(gLiveCounters, 0);
}

TEST_F(ContainerTest, UnregisteringAFactoryReleasesTheSingletonItBuilt) {
    c->RegisterFactory(ICounter::IID, MakeIntf<TCounterFactory>().get());
    IntfPtr<ICounter> s;
    ASSERT_TRUE(c->GetSingleton(s));
    s.reset();
    c->UnregisterFactory(ICounter::IID);
    EXPECT_EQ(gLiveCounters, 0) << "no object of a withdrawn factory stays behind";
    EXPECT_TRUE(c->Registrations().empty());

    // An instance registered by hand is not the factory's: it stays.
    c->RegisterFactory(ICounter::IID, MakeIntf<TCounterFactory>().get());
    IntfPtr<ICounter> own = MakeIntf<TCounter>();
    c->RegisterInstance(ICounter::IID, own.get());
    c->UnregisterFactory(ICounter::IID);
    IntfPtr<ICounter> still;
    EXPECT_TRUE(c->GetInstance(still));
}
