// The database script service's fault points: statements refused by number and by text with
// the error of a lock past the busy time-out, the process killed before or after a statement,
// the trace of every statement's number and text, and the settings that choose them.
#include "TDBScript.h"
#include "TDatabase.h"
#include "TFaultPoints.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#ifndef _WIN32
#include <csignal>
#endif

using namespace refhost;
using pallux::IntfPtr;

namespace fs = std::filesystem;

namespace {

void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}
void UnsetEnv(const char* name) {
#ifdef _WIN32
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

// What a test's killer throws: not a std::exception, so no handler of the service takes it.
struct TKilled {
    std::int64_t Count;
};

class FaultPointsTest : public ::testing::Test {
protected:
    fs::path Folder;
    std::shared_ptr<TDatabase> Database;
    std::shared_ptr<TFaultPoints> Faults;
    IntfPtr<pallux::IServiceFactory> Factory;
    int Kills = 0;

    void SetUp() override {
        Folder = fs::temp_directory_path() /
                 ("refhost_faults_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                  "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(Folder);
        fs::create_directories(Folder);
        Database = OpenDatabase((Folder / "host.db").string());
        Database->RunBatch("CREATE TABLE [T] ( [A] INT )");
    }
    void TearDown() override {
        Factory.reset();
        Faults.reset();
        Database.reset();
        fs::remove_all(Folder);
    }

    // A script object of a service whose fault points are these; killing throws TKilled.
    IntfPtr<pallux::IDBScript> Service(TFaultPointSettings settings) {
        Faults = std::make_shared<TFaultPoints>(std::move(settings));
        Faults->SetKiller([this] {
            ++Kills;
            throw TKilled{Faults->Count()};
        });
        Factory = pallux::MakeIntf<TDBScriptFactory>(Database, fs::path(), Faults);
        return NewScript();
    }
    IntfPtr<pallux::IDBScript> NewScript() {
        IntfPtr<pallux::IInterface> service;
        Factory->CreateService(service);
        return service.as<pallux::IDBScript>();
    }
    std::string Values() {
        const auto r = Database->RunBatch("SELECT [A] FROM [T] ORDER BY [A]");
        std::string out;
        for (const auto& row : r.ResultSets.at(0).Rows)
            out += (out.empty() ? "" : ",") + row[0].AsText();
        return out;
    }
    static bool Insert(pallux::IDBScript& db, std::int64_t a) {
        return db.ExecuteFmt("INSERT INTO [T] ( [A] ) VALUES ( %d )", {a});
    }
};

// The message SQLite itself gives a writer when another connection holds the write lock past
// its busy time-out (here a time-out of 0).
std::string RealLockMessage(const fs::path& file) {
    sqlite3* holder = nullptr;
    sqlite3* writer = nullptr;
    sqlite3_open(file.string().c_str(), &holder);
    sqlite3_open(file.string().c_str(), &writer);
    sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    sqlite3_busy_timeout(writer, 0);
    char* error = nullptr;
    const int rc = sqlite3_exec(writer, "BEGIN IMMEDIATE", nullptr, nullptr, &error);
    const std::string message = rc == SQLITE_OK ? "no lock" : (error ? error : "");
    sqlite3_free(error);
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(writer);
    sqlite3_close(holder);
    return message;
}

} // namespace

TEST_F(FaultPointsTest, TheNthStatementIsRefusedAsALockedDatabaseRefusesIt) {
    TFaultPointSettings s;
    s.RefuseAt = {2, 4};
    auto db = Service(s);
    EXPECT_TRUE(Insert(*db, 1));
    EXPECT_FALSE(Insert(*db, 2)) << "the second statement is refused";
    const std::string message = static_cast<TDBScript*>(db.get())->LastError();
    EXPECT_EQ(message, "database is locked");
    EXPECT_EQ(message, RealLockMessage(Folder / "host.db")) << "the very error a real lock gives";
    EXPECT_TRUE(Insert(*db, 3));
    // the numbering is the process's: a new script object goes on counting
    auto other = NewScript();
    try {
        std::string v;
        other->GetValue("SELECT COUNT(*) AS N FROM [T]", "N", v);
        ADD_FAILURE() << "statement 4 ran: " << v;
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "database is locked");
    }
    EXPECT_TRUE(Insert(*other, 5));
    EXPECT_EQ(Values(), "1,3,5") << "a refused statement leaves nothing behind";
    EXPECT_EQ(Faults->Count(), 5);
}

TEST_F(FaultPointsTest, EveryStatementMatchingATextOrAPatternIsRefused) {
    TFaultPointSettings s;
    s.RefuseContaining = "VALUES ( 2";
    s.RefuseMatching = R"(VALUES \( [4-5]\d? \))";
    auto db = Service(s);
    std::vector<bool> results;
    for (std::int64_t a : {1, 2, 20, 3, 4, 45, 6, 2})
        results.push_back(Insert(*db, a));
    EXPECT_EQ(results, (std::vector<bool>{true, false, false, true, false, false, true, false}));
    EXPECT_EQ(Values(), "1,3,6");
    // a whole batch is refused when one of its statements matches
    EXPECT_THROW(db->Execute("INSERT INTO [T] ( [A] ) VALUES ( 7 );\nINSERT INTO [T] ( [A] ) VALUES ( 4 )"),
                 EDatabaseError);
    EXPECT_EQ(Values(), "1,3,6");
}

TEST_F(FaultPointsTest, KillAtStopsBeforeTheStatementRunsAndKillAfterOnceItRan) {
    {
        TFaultPointSettings s;
        s.KillAt = 3;
        auto db = Service(s);
        EXPECT_TRUE(Insert(*db, 1));
        EXPECT_TRUE(Insert(*db, 2));
        try {
            Insert(*db, 3);
            ADD_FAILURE() << "statement 3 did not kill";
        } catch (const TKilled& k) {
            EXPECT_EQ(k.Count, 3);
        }
        EXPECT_EQ(Values(), "1,2") << "killed before statement 3 ran";
    }
    {
        TFaultPointSettings s;
        s.KillAfter = 2;
        auto db = Service(s);
        EXPECT_TRUE(Insert(*db, 10));
        try {
            Insert(*db, 11);
            ADD_FAILURE() << "statement 2 did not kill";
        } catch (const TKilled& k) {
            EXPECT_EQ(k.Count, 2);
        }
        EXPECT_EQ(Values(), "1,2,10,11") << "killed once statement 2 had committed";
    }
    {
        // killed after a statement the database refused: the kill still comes
        TFaultPointSettings s;
        s.RefuseAt = {1};
        s.KillAfter = 1;
        auto db = Service(s);
        EXPECT_THROW(Insert(*db, 20), TKilled);
        EXPECT_EQ(Values(), "1,2,10,11");
    }
    EXPECT_EQ(Kills, 3);
}

#ifndef _WIN32
TEST_F(FaultPointsTest, TheRealKillEndsTheProcessAtOnceAsSigkillDoes) {
    const fs::path trace = Folder / "trace.jsonl";
    const fs::path marker = Folder / "returned";
    EXPECT_EXIT(
        {
            TFaultPointSettings s;
            s.KillAt = 2;
            s.TraceFile = trace;
            auto faults = std::make_shared<TFaultPoints>(s);
            auto factory = pallux::MakeIntf<TDBScriptFactory>(Database, fs::path(), faults);
            IntfPtr<pallux::IInterface> service;
            factory->CreateService(service);
            auto db = service.as<pallux::IDBScript>();
            Insert(*db, 1);
            Insert(*db, 2);
            std::ofstream(marker) << "statement 2 returned";
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGKILL), "");
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_EQ(Values(), "1");
    std::ifstream in(trace);
    std::string line;
    std::vector<std::string> fates;
    while (std::getline(in, line)) {
        rapidjson::Document d;
        d.Parse(line.c_str());
        ASSERT_FALSE(d.HasParseError()) << line;
        fates.push_back(d["fate"].GetString());
    }
    EXPECT_EQ(fates, (std::vector<std::string>{"run", "killed"})) << "the killed statement is traced first";
}
#endif

TEST_F(FaultPointsTest, TheTraceHoldsEveryStatementsNumberFateAndText) {
    TFaultPointSettings s;
    s.RefuseAt = {2};
    s.TraceFile = Folder / "trace.jsonl";
    auto db = Service(s);
    Insert(*db, 1);
    Insert(*db, 2);
    db->Execute("UPDATE [T] SET [A] = 3\nWHERE [A] = 1 AND 'it''s' <> '\t'");
    std::ifstream in(s.TraceFile);
    std::string line;
    std::vector<std::tuple<std::int64_t, std::string, std::string>> entries;
    while (std::getline(in, line)) {
        rapidjson::Document d;
        d.Parse(line.c_str());
        ASSERT_FALSE(d.HasParseError()) << line;
        entries.emplace_back(d["index"].GetInt64(), d["fate"].GetString(), d["sql"].GetString());
    }
    using E = std::tuple<std::int64_t, std::string, std::string>;
    EXPECT_EQ(entries,
              (std::vector<E>{E{1, "run", "INSERT INTO [T] ( [A] ) VALUES ( 1 )"},
                              E{2, "refused", "INSERT INTO [T] ( [A] ) VALUES ( 2 )"},
                              E{3, "run", "UPDATE [T] SET [A] = 3\nWHERE [A] = 1 AND 'it''s' <> '\t'"}}));
    EXPECT_EQ(Values(), "3");
}

TEST(FaultPointSettings, ReadFromTheIniUnlessTheEnvironmentSaysOtherwise) {
    std::map<std::string, std::string> ini = {{"RefuseAt", " 3, 7,12 "},
                                              {"RefuseContaining", "SET [Status]"},
                                              {"RefuseMatching", "^UPDATE"},
                                              {"KillAt", "9"},
                                              {"KillAfter", "4"},
                                              {"Trace", "trace.jsonl"}};
    const auto lookup = [&](const std::string& key) { return ini.count(key) ? ini[key] : std::string(); };
    UnsetEnv("ZUMVO_FAULT_REFUSE_AT");
    UnsetEnv("ZUMVO_FAULT_KILL_AT");
    TFaultPointSettings s = ReadFaultPointSettings(lookup, "/till");
    EXPECT_EQ(s.RefuseAt, (std::set<std::int64_t>{3, 7, 12}));
    EXPECT_EQ(s.RefuseContaining, "SET [Status]");
    EXPECT_EQ(s.RefuseMatching, "^UPDATE");
    EXPECT_EQ(s.KillAt, 9);
    EXPECT_EQ(s.KillAfter, 4);
    EXPECT_EQ(s.TraceFile, fs::path("/till/trace.jsonl"));
    EXPECT_TRUE(s.Active());

    SetEnv("ZUMVO_FAULT_REFUSE_AT", "5");
    s = ReadFaultPointSettings(lookup, "/till");
    EXPECT_EQ(s.RefuseAt, (std::set<std::int64_t>{5}));
    EXPECT_EQ(s.KillAt, 9);
#ifndef _WIN32
    setenv("ZUMVO_FAULT_KILL_AT", "", 1); // set but empty: no kill, whatever the ini says
    EXPECT_EQ(ReadFaultPointSettings(lookup, "/till").KillAt, 0);
#endif

    for (const char* bad : {"0", "-2", "x", "3,,4", "2.5"}) {
        SetEnv("ZUMVO_FAULT_REFUSE_AT", bad);
        try {
            ReadFaultPointSettings(lookup, "/till");
            ADD_FAILURE() << "accepted RefuseAt=" << bad;
        } catch (const EFaultPointSettingError& e) {
            EXPECT_NE(std::string(e.what()).find(std::string("\"") + bad), std::string::npos) << e.what();
        }
    }
    UnsetEnv("ZUMVO_FAULT_REFUSE_AT");
    UnsetEnv("ZUMVO_FAULT_KILL_AT");
    ini["RefuseMatching"] = "VALUES (";
    EXPECT_THROW(ReadFaultPointSettings(lookup, "/till"), EFaultPointSettingError);

    const TFaultPointSettings none =
        ReadFaultPointSettings([](const std::string&) { return std::string(); }, {});
    EXPECT_FALSE(none.Active());
}
