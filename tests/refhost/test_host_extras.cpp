#include "HostSchema.h"
#include "TActCodes.h"
#include "TMainMenuManager.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace refhost;
namespace fs = std::filesystem;

namespace {

struct TClickTarget {
    pallux::TEventSubscriberToken Token;
    int Clicks = 0;
    void Click() { ++Clicks; }
};

class HostExtrasTest : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("zumvo_extras_" + std::to_string(getpid()));
    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::shared_ptr<THostContext> Context(const std::string& ini) {
        std::ofstream(dir / "host.ini") << ini;
        return THostContext::Load(dir / "host.ini", "BackOffice", true);
    }
};

} // namespace

TEST_F(HostExtrasTest, AccessFollowsTheCodesAssignedToTheUsersGroup) {
    auto db = OpenDatabase((dir / "host.db").string());
    CreateHostTables(*db, false);
    auto registry = pallux::MakeIntf<TActCodeRegistry>(db);
    registry->RegisterCode("AM012", "To View Zumvo Payment Transactions", 1, 1);
    registry->RegisterCode("AM012", "To View Zumvo Payment Transactions", 1, 1); // again: no duplicate
    registry->RegisterCode("AM011", "To Change Zumvo Payment Settings", 1, 1);
    registry->AssignCode("AM012", "FRCH");
    registry->AssignCode("AM012", "FRCH");

    auto ctx = Context("[Access]\nUser=Anna\nUserID=7\nGroup=FRCH\n");
    auto check = pallux::MakeIntf<TActCodeCheck>(ctx, db);
    std::string user;
    std::int32_t id = 0;
    EXPECT_TRUE(check->CheckAccess("AM012", user, id, 1, 0));
    EXPECT_EQ(user, "Anna");
    EXPECT_EQ(id, 7);
    EXPECT_FALSE(check->CheckAccess("AM011", user, id, 1, 0)) << "registered but not assigned to the group";
    EXPECT_FALSE(check->CheckAccess("XX999", user, id, 1, 0)) << "unknown code";

    auto other = pallux::MakeIntf<TActCodeCheck>(Context("[Access]\nGroup=STAFF\nGrant=AM011\n"), db);
    EXPECT_FALSE(other->CheckAccess("AM012", user, id, 1, 0)) << "another group";
    EXPECT_TRUE(other->CheckAccess("AM011", user, id, 1, 0)) << "granted by the configuration";
    auto denied = pallux::MakeIntf<TActCodeCheck>(Context("[Access]\nGroup=FRCH\nDeny=AM011, AM012\n"), db);
    EXPECT_FALSE(denied->CheckAccess("AM012", user, id, 1, 0)) << "refused by the configuration";

    registry->UnregisterCode("AM012");
    EXPECT_FALSE(check->CheckAccess("AM012", user, id, 1, 0));
}

TEST_F(HostExtrasTest, MenuEntriesKeepOrderAndIgnoreClicksOfGoneObjects) {
    auto ctx = Context("");
    auto menus = pallux::MakeIntf<TMainMenuManager, TMainMenuManager>(ctx);
    auto target = std::make_unique<TClickTarget>();
    const auto click = pallux::TNotifyHandler::Bind<&TClickTarget::Click>(target->Token, target.get());
    menus->AddMenuItem("Lists", "-", {}, -1);
    menus->AddMenuItem("Lists", "Zumvo Reports", click, -1);
    menus->AddMenuItem("Lists", "First", click, 0);
    ASSERT_EQ(menus->Entries().size(), 3u);
    EXPECT_EQ(menus->Entries()[0].Caption, "First");
    EXPECT_EQ(menus->Entries()[2].Caption, "Zumvo Reports");

    EXPECT_TRUE(menus->Click("Lists", "Zumvo Reports"));
    EXPECT_EQ(target->Clicks, 1);
    EXPECT_FALSE(menus->Click("Lists", "-")) << "a separator does nothing";
    EXPECT_FALSE(menus->Click("Plugins", "Zumvo Reports"));
    target.reset();
    EXPECT_FALSE(menus->Click("Lists", "Zumvo Reports")) << "the object behind the entry is gone";
    EXPECT_EQ(ctx->Transcript.Lines().front(), "MENU: Lists / -");
}
