// The brand service simulator over real loopback HTTP: basic authentication, the brand lists,
// the test modes and the program itself.
#include "ChildProcess.h"

#include "BrandSim.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <rapidjson/document.h>

using namespace sim;

namespace {

const char* const BrandFile = R"({
  "12": [{"BrandID": 1, "Code": "BR1", "Description": "Brand One"},
         {"BrandID": 2, "Code": "BR2", "Description": "Brand Two", "Extra": true}],
  "17": [{"BrandID": 3, "Code": "FUEL", "Description": "Forecourt"}]
})";

class BrandSimTest : public ::testing::Test {
protected:
    void SetUp() override { Start(DefaultBrandUser, DefaultBrandPassword); }

    void Start(const std::string& user, const std::string& password) {
        FSim = std::make_unique<TBrandSim>(BrandTableFromJson(BrandFile), user, password);
        FPort = FSim->Start();
        FClient = std::make_unique<httplib::Client>("127.0.0.1", FPort);
        FClient->set_basic_auth(DefaultBrandUser, DefaultBrandPassword);
        FClient->set_read_timeout(10, 0);
    }
    httplib::Result Brands(const std::string& store) {
        return FClient->Get(("/api/brand/store/" + store).c_str());
    }
    rapidjson::Document BrandsJson(const std::string& store) {
        auto res = Brands(store);
        rapidjson::Document doc;
        EXPECT_TRUE(res && res->status == 200);
        doc.Parse(res ? res->body.c_str() : "null");
        EXPECT_FALSE(doc.HasParseError());
        return doc;
    }
    void SetMode(const std::string& json) {
        auto res = FClient->Post("/mode", json, "application/json");
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 200) << res->body;
    }

    std::unique_ptr<TBrandSim> FSim;
    int FPort = 0;
    std::unique_ptr<httplib::Client> FClient;
};

TEST_F(BrandSimTest, AnswersTheStoresBrandsAsAJsonArray) {
    auto res = Brands("12");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_NE(res->get_header_value("Content-Type").find("application/json"), std::string::npos);
    EXPECT_EQ(res->body, R"([{"BrandID":1,"Code":"BR1","Description":"Brand One"},)"
                         R"({"BrandID":2,"Code":"BR2","Description":"Brand Two"}])");
    rapidjson::Document other = BrandsJson("17");
    ASSERT_TRUE(other.IsArray());
    ASSERT_EQ(other.Size(), 1u);
    EXPECT_STREQ(other[0]["Code"].GetString(), "FUEL");

    EXPECT_EQ(BrandsJson("99").Size(), 0u); // a store the service does not know has no brands
    auto notAStore = Brands("twelve");
    ASSERT_TRUE(notAStore);
    EXPECT_EQ(notAStore->status, 404);
}

TEST_F(BrandSimTest, BasicAuthenticationIsRequired) {
    httplib::Client anonymous("127.0.0.1", FPort);
    auto none = anonymous.Get("/api/brand/store/12");
    ASSERT_TRUE(none);
    EXPECT_EQ(none->status, 401);
    EXPECT_EQ(none->get_header_value("WWW-Authenticate").rfind("Basic", 0), 0u);
    EXPECT_EQ(none->body.find("BR1"), std::string::npos);

    anonymous.set_basic_auth(DefaultBrandUser, "k7w2$membe");
    EXPECT_EQ(anonymous.Get("/api/brand/store/12")->status, 401);
    anonymous.set_basic_auth("pallux_clien", DefaultBrandPassword);
    EXPECT_EQ(anonymous.Get("/api/brand/store/12")->status, 401);
    auto bearer = anonymous.Get("/api/brand/store/12", {{"Authorization", "Bearer abc"}});
    EXPECT_EQ(bearer->status, 401);

    // The scheme name is not case-sensitive.
    const std::string token =
        httplib::make_basic_authentication_header(DefaultBrandUser, DefaultBrandPassword)
            .second.substr(std::string("Basic ").size());
    httplib::Client lower("127.0.0.1", FPort);
    EXPECT_EQ(lower.Get("/api/brand/store/12", {{"Authorization", "basic " + token}})->status, 200);

    // Other credentials when the server is told so.
    Start("backoffice", "other-secret");
    EXPECT_EQ(Brands("12")->status, 401);
    FClient->set_basic_auth("backoffice", "other-secret");
    EXPECT_EQ(Brands("12")->status, 200);
}

TEST_F(BrandSimTest, ModesPerStoreAndForAll) {
    SetMode(R"({"store": 12, "mode": "empty"})");
    auto empty = Brands("12");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->status, 200);
    EXPECT_EQ(empty->body, "[]");
    EXPECT_EQ(BrandsJson("17").Size(), 1u); // other stores unaffected

    SetMode(R"({"store": "12", "mode": "nonarray"})");
    rapidjson::Document nonArray = BrandsJson("12");
    EXPECT_TRUE(nonArray.IsObject());

    SetMode(R"({"store": 12, "mode": "500"})");
    auto error = Brands("12");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->status, 500);
    EXPECT_NE(error->body.find("<html>"), std::string::npos);

    SetMode(R"({"store": 12, "mode": "drop"})");
    auto dropped = Brands("12");
    EXPECT_FALSE(dropped);
    EXPECT_EQ(BrandsJson("17").Size(), 1u); // the server goes on serving

    SetMode(R"({"mode": "empty"})"); // every store; per-store modes forgotten
    EXPECT_EQ(Brands("12")->body, "[]");
    EXPECT_EQ(Brands("17")->body, "[]");
    SetMode(R"({"mode": "normal"})");
    EXPECT_EQ(BrandsJson("12").Size(), 2u);

    const char* invalid[] = {R"({"mode": "slow"})", R"({"store": -1, "mode": "empty"})", R"({"store": 12})",
                             "{"};
    for (const char* body : invalid) {
        auto res = FClient->Post("/mode", body, "application/json");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400) << body;
    }
    EXPECT_EQ(FSim->ModeOf(12), TBrandMode::Normal);
}

TEST_F(BrandSimTest, BrandListCanBeReplacedWhileRunning) {
    auto res =
        FClient->Put("/brands/12", R"([{"BrandID": 1, "Code": "BR1X", "Description": "Brand One Renamed"}])",
                     "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    rapidjson::Document doc = BrandsJson("12");
    ASSERT_EQ(doc.Size(), 1u);
    EXPECT_EQ(doc[0]["BrandID"].GetInt(), 1);
    EXPECT_STREQ(doc[0]["Description"].GetString(), "Brand One Renamed");

    auto bad = FClient->Put("/brands/12", R"([{"BrandID": "one"}])", "application/json");
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->status, 400);
    EXPECT_EQ(BrandsJson("12").Size(), 1u);
}

TEST(BrandTableTest, InvalidFilesAreNamed) {
    const std::pair<const char*, const char*> cases[] = {
        {"[]", "object of store numbers"},
        {R"({"12": {}})", "store 12: must be an array"},
        {R"({"north": []})", "'north' is not a store number"},
        {R"({"12": [{"BrandID": 1, "Code": "A"}]})", "store 12[0]: 'Description'"},
        {R"({"12": [{"BrandID": 1.5, "Code": "A", "Description": "B"}]})", "'BrandID'"},
        {R"({"12": [], "012": []})", "twice"},
        {"{", "not valid JSON"},
    };
    for (const auto& [text, expected] : cases) {
        try {
            BrandTableFromJson(text);
            ADD_FAILURE() << "accepted " << text;
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
        }
    }
}

// The program itself.
using zumvo::test::AnnouncedPort;
using zumvo::test::BuiltProgram;
using zumvo::test::TChildProcess;
using zumvo::test::TExitStatus;

TEST(BrandSimProgramTest, AnnouncesItsPortServesTheFileAndStopsOnSigterm) {
    TChildProcess program(BuiltProgram("zumvo_brand_sim"),
                          {"--port", "0", "--brands", ZUMVO_SOURCE_DIR "/sim/data/brands.json", "--quiet"});
    const int port = AnnouncedPort(program.ReadLine());
    ASSERT_GT(port, 0);
    httplib::Client client("127.0.0.1", port);
    client.set_basic_auth(DefaultBrandUser, DefaultBrandPassword);
    auto res = client.Get("/api/brand/store/17");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    rapidjson::Document doc;
    doc.Parse(res->body.c_str());
    ASSERT_TRUE(doc.IsArray());
    EXPECT_EQ(doc.Size(), 3u);
    const TExitStatus status = program.Stop();
    EXPECT_TRUE(status.StoppedCleanly()) << status.Text();
}

TEST(BrandSimProgramTest, FlagsSetCredentialsAndMode) {
    TChildProcess program(BuiltProgram("zumvo_brand_sim"),
                          {"--brands", ZUMVO_SOURCE_DIR "/sim/data/brands.json", "--user", "u",
                           "--password=p", "--mode", "500", "--quiet"});
    const int port = AnnouncedPort(program.ReadLine());
    ASSERT_GT(port, 0);
    httplib::Client client("127.0.0.1", port);
    client.set_basic_auth(DefaultBrandUser, DefaultBrandPassword);
    EXPECT_EQ(client.Get("/api/brand/store/12")->status, 401);
    client.set_basic_auth("u", "p");
    EXPECT_EQ(client.Get("/api/brand/store/12")->status, 500);

    TChildProcess badMode(BuiltProgram("zumvo_brand_sim"), {"--mode", "slow"});
    const TExitStatus status = badMode.Wait();
    EXPECT_TRUE(status.Exited && status.Code == 2) << status.Text();
}

} // namespace
