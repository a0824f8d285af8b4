// zumvo_reconcile: the three-way money check of tests/common/LedgerAudit as a program, so that
// scripts (the chaos soak, a person after a demo) run the same code as the test suites.
//
//   zumvo_reconcile --db FILE (--ledger-port N | --ledger FILE) --store S [--held-funds FILE]
//                   [--nothing-held]
//
// --db: the host's SQLite database; --ledger-port: read GET /ledger from the voucher simulator on
// 127.0.0.1:N, or --ledger: a file holding that JSON array; --store: the host store number of the
// transaction references; --held-funds: the output of BackOffice --held-funds, whose rows are then
// the listed ones (by default the rows the module's held-funds query selects); --nothing-held:
// also report every ledger entry still held (for the end of a run, after the last retry).
//
// Prints one line per discrepancy and a summary; exit code 0 when all agree, 1 when not, 2 for a
// bad argument or an input that cannot be read.
#include "LedgerAudit.h"

#include <charconv>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

namespace {

const char* const Usage =
    "usage: zumvo_reconcile --db FILE (--ledger-port N | --ledger FILE) --store S [--held-funds FILE]\n"
    "                       [--nothing-held]\n"
    "Compares the voucher provider's ledger, the module's transaction rows and the host's invoices to\n"
    "the cent; one line per discrepancy. Exit code 0: all agree; 1: discrepancies; 2: bad input.\n";

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

int Number(std::string_view flag, const std::string& text) {
    int value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size())
        throw std::invalid_argument(std::string(flag) + " needs a whole number, not '" + text + "'");
    return value;
}

} // namespace

int main(int argc, char** argv) {
    std::string db, ledgerFile, heldFunds;
    int port = 0;
    std::optional<int> store;
    bool nothingHeld = false;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string_view arg = argv[i];
            const auto value = [&]() -> std::string {
                if (i + 1 >= argc)
                    throw std::invalid_argument(std::string(arg) + " needs a value");
                return argv[++i];
            };
            if (arg == "--db")
                db = value();
            else if (arg == "--ledger")
                ledgerFile = value();
            else if (arg == "--ledger-port")
                port = Number(arg, value());
            else if (arg == "--store")
                store = Number(arg, value());
            else if (arg == "--held-funds")
                heldFunds = value();
            else if (arg == "--nothing-held")
                nothingHeld = true;
            else if (arg == "--help") {
                std::cout << Usage;
                return 0;
            } else
                throw std::invalid_argument("unknown argument '" + std::string(arg) + "'");
        }
        if (db.empty() || !store || (ledgerFile.empty() == (port == 0)))
            throw std::invalid_argument("--db, --store and one of --ledger-port or --ledger are required");
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << "\n" << Usage;
        return 2;
    }

    try {
        const zumvo::TJSONDocument ledger =
            port ? zumvo::test::ReadLedger(port) : zumvo::TJSONDocument::Parse(ReadWholeFile(ledgerFile));
        if (!ledger.IsArray())
            throw std::runtime_error("the ledger is not a JSON array");
        zumvo::test::TAuditData data = zumvo::test::ReadAuditData(db);
        if (!heldFunds.empty()) {
            const std::string output = ReadWholeFile(heldFunds);
            if (output.find("Transaction\tBasket\t") == std::string::npos)
                throw std::runtime_error(heldFunds + " is not the output of BackOffice --held-funds");
            data.Listed = zumvo::test::ListedInHeldFundsOutput(output);
        }
        std::vector<std::string> lines = zumvo::test::Reconcile(data, ledger, *store);
        int held = 0;
        for (int i = 0; i < ledger._Count(); ++i)
            if (ledger[i]["state"].AsString("") == "held") {
                ++held;
                if (nothingHeld)
                    lines.push_back("still held: tvTrxId " + ledger[i]["tvTrxId"].ToJSON() + " (" +
                                    ledger[i]["code"].AsString("") + ", " + ledger[i]["trxId"].AsString("") +
                                    ") " + zumvo::FixedText(ledger[i]["amount"].AsInt64(0)));
            }
        for (const std::string& line : lines)
            std::cout << line << "\n";
        std::cout << "reconciled " << ledger._Count() << " ledger entries (" << held << " held), "
                  << data.Rows.size() << " module rows (" << data.Listed.size() << " listed), "
                  << data.Invoices.size() << " invoices: " << lines.size() << " discrepancies\n";
        return lines.empty() ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << "\n";
        return 2;
    }
}
