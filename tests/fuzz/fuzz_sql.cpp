// T-SQL from arbitrary text, and mutations of the module's own statements (the seed corpus), run
// on a SQLite copy of a database with the host's and the module's tables. Parsing answers steps
// or ESqlTranslateError; a batch either runs or fails with EDatabaseError, and a failed batch
// leaves every table as it was.
#include "FuzzCheck.h"
#include "HostSchema.h"
#include "TDatabase.h"
#include "TSqlTranslator.h"
#include "implDataChangesZumvo.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace zumvo;
using zumvo::fuzz::Check;
namespace fs = std::filesystem;

namespace {

const char* const Tables[] = {"ZumvoPaymentTransactions", "ZumvoPaymentBasket", "zumvoPaymentLog", "TILLS",
                              "INVOICES"};

fs::path Folder() {
    static const fs::path folder = fs::temp_directory_path() / ("zumvo_fuzz_sql_" + std::to_string(getpid()));
    return folder;
}

// Every row of the tables the module's statements touch, as text.
std::string Snapshot(refhost::TDatabase& db) {
    std::string out;
    for (const char* table : Tables) {
        const auto result = db.RunBatch(std::string("SELECT * FROM [") + table + "]");
        for (const auto& row : result.ResultSets.back().Rows) {
            for (const auto& v : row)
                out += v.AsText() + "|";
            out += "\n";
        }
    }
    return out;
}

std::string TemplateSnapshot;

void RemoveFolder() {
    std::error_code ignored;
    fs::remove_all(Folder(), ignored);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fs::create_directories(Folder());
    std::atexit(RemoveFolder);
    auto db = refhost::OpenDatabase((Folder() / "template.db").string());
    refhost::CreateHostTables(*db, true);
    std::vector<std::string> scripts;
    pallux::MakeIntf<TDatabaseChangesZumvo>()->GetUpdateScripts(scripts);
    for (const auto& script : scripts)
        db->RunBatch(script);
    db->RunBatch("INSERT INTO [ZumvoPaymentBasket] ( Timestamp_Created, TillID ) VALUES ( GETDATE(), 3 )");
    db->RunBatch("INSERT INTO [ZumvoPaymentTransactions] ( Timestamp_Created, BasketID, Response, Status ) "
                 "VALUES ( GETDATE(), 1, '', 0 )");
    TemplateSnapshot = Snapshot(*db);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string batch(reinterpret_cast<const char*>(data), size);
    try {
        (void)refhost::TSqlTranslator::Parse(batch);
    } catch (const refhost::ESqlTranslateError&) {
    }

    const fs::path work = Folder() / "work.db";
    fs::copy_file(Folder() / "template.db", work, fs::copy_options::overwrite_existing);
    auto db = refhost::OpenDatabase(work.string());
    try {
        db->RunBatch(batch);
    } catch (const refhost::EDatabaseError&) {
        Check(Snapshot(*db) == TemplateSnapshot, "a refused batch leaves the tables as they were");
    }
    return 0;
}
