// The brand service's answer from arbitrary text, through the till brand settings' download into
// a SQLite database. Whatever the answer, the download ends without an error escaping, and every
// brand it stored carries an ID, code and description exactly as some entry of the answer gave
// them (an entry that cannot be stored is skipped, never stored altered).
#include "FuzzCheck.h"
#include "PersistenceTestHost.h"
#include "THostServices.h"
#include "intfRestClient.h"

#include <cstddef>
#include <cstdint>
#include <memory>

using namespace zumvo;
using zumvo::fuzz::Check;

namespace {

std::string Answer; // what the brand service answers this run

class TFixedAnswerClient : public pallux::TInterfacedObject<pallux::IRestClient> {
public:
    void PALLUX_CALL SetBaseURL(const std::string&) override {}
    void PALLUX_CALL SetBasicAuth(const std::string&, const std::string&) override {}
    bool PALLUX_CALL Get(const std::string&, const pallux::TStringList&, std::string& response) override {
        response = Answer;
        return true;
    }
    std::string PALLUX_CALL Post(const std::string&, const std::string&, const pallux::TStringList&,
                                 std::int32_t) override {
        return Answer;
    }
    void PALLUX_CALL SetTimeouts(std::int32_t, std::int32_t) override {}
    std::int32_t PALLUX_CALL GetLastStatus() override { return 200; }
};

std::unique_ptr<test::TPersistenceTestHost> Host;

void StopHost() {
    Host.reset();
}

// True when some entry of the answer has this ID, code and description.
bool InAnswer(const TJSONDocument& answer, const std::string& id, const std::string& code,
              const std::string& description) {
    for (int i = 0; i < answer._Count(); ++i) {
        const TJSONValue entry = answer[i];
        if (entry["BrandID"].IsInteger() && std::to_string(entry["BrandID"].AsInt64()) == id &&
            entry["Code"].IsString() && entry["Code"].AsString() == code && entry["Description"].IsString() &&
            entry["Description"].AsString() == description)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Host = std::make_unique<test::TPersistenceTestHost>();
    std::atexit(StopHost);
    refhost::RegisterHostFactory<pallux::IRestClient>(
        *Host->Container, [] { return pallux::MakeIntf<TFixedAnswerClient, pallux::IRestClient>(); });
    pallux::MakeIntf<TTillBrandSettings, TTillBrandSettings>()->DatabaseChanges();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Answer.assign(reinterpret_cast<const char*>(data), size);
    Host->Run("DELETE FROM [Brands]");
    pallux::MakeIntf<TTillBrandSettings, TTillBrandSettings>()->DownloadBrands();

    // Read straight from the database: the script service's own JSON writer is not under test.
    const auto stored = Host->Database->RunBatch("SELECT BrandID, Code, Description FROM [Brands]");
    const auto& rows = stored.ResultSets.back().Rows;
    if (rows.empty())
        return 0;
    const TJSONDocument answer = TJSONDocument::Parse(Answer); // stored rows: the answer was JSON
    for (const auto& row : rows)
        Check(InAnswer(answer, row[0].AsText(), row[1].AsText(), row[2].AsText()),
              "a stored brand is an entry of the answer: " + row[0].AsText() + " " + row[1].AsText());
    return 0;
}
