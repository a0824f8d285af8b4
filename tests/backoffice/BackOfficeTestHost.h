// The back office's test fixture: a module test host with a real database holding the module's
// and the brand tables, the access codes registered by the module's scripts, the host's HTML
// viewer writing pages into the test folder, a brand service simulator for store 12, and the
// helpers to record sales through the store's operations, to run the host programs and to look
// at pages in headless Chromium.
#pragma once

#include "StatusFixture.h"
#include "BrandSim.h"
#include "ChildProcess.h"
#include "HostFiles.h"
#include "PersistenceTestHost.h"
#include "TActCodes.h"
#include "THTMLViewer.h"
#include "TRestClient.h"
#include "implDataChangesZumvo.h"

#include <QApplication>
#include <QWidget>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace zumvo::test {

// One transaction of a recorded sale.
struct TSaleCode {
    TTransactionStatus Status;
    double Amount;
};

// A table row of a page as Chromium parsed it: the inner HTML of each th or td.
using TPageRow = std::vector<std::string>;

class BackOfficeTest : public ::testing::Test {
protected:
    TPersistenceTestHost host;
    TLogCapture log{host.Folder};
    sim::TBrandSim brandSim{sim::BrandTableFromJson(R"({"12": [
        {"BrandID": 1, "Code": "BR1", "Description": "Brand One"},
        {"BrandID": 2, "Code": "BR2", "Description": "Brand Two"},
        {"BrandID": 3, "Code": "EVIL", "Description": "<img src=x onerror=alert(1)></table>"}]})")};
    pallux::IntfPtr<IZumvoTransaction> store;

    static std::filesystem::path ScreenshotFolder() {
        const auto folder = std::filesystem::path(ZUMVO_BIN_DIR).parent_path() / "screenshots";
        std::filesystem::create_directories(folder);
        return folder;
    }

    void SetUp() override {
        static int argc = 1;
        static char name[] = "test_backoffice";
        static char* argv[] = {name, nullptr};
        if (!qApp)
            new QApplication(argc, argv); // lives for the whole test program

        auto& c = *host.Container;
        const int brandPort = brandSim.Start();
        refhost::RegisterHostFactory<pallux::IRestClient>(c, [] {
            refhost::TRestSettings s;
            s.ConnectTimeoutMs = 2000;
            s.RequestTimeoutMs = 5000;
            return pallux::MakeIntf<refhost::TRestClient>(s);
        });
        auto db = host.Database;
        refhost::RegisterHostFactory<pallux::IActCodeRegistry>(
            c, [db] { return pallux::MakeIntf<refhost::TActCodeRegistry>(db); });
        auto ctx = host.Context;
        refhost::RegisterHostFactory<pallux::IActCodeCheck>(
            c, [ctx, db] { return pallux::MakeIntf<refhost::TActCodeCheck>(ctx, db); });
        const auto res = std::filesystem::path(ZUMVO_BIN_DIR) / "Res";
        refhost::RegisterHostFactory<pallux::IHTMLViewer>(
            c, [ctx, res] { return pallux::MakeIntf<refhost::THTMLViewer>(ctx, res); });
        host.WriteSettings("[Settings]\nZumvoStoreID=77\nBrandServiceURL=http://127.0.0.1:" +
                           std::to_string(brandPort) + "\n");

        std::vector<std::string> scripts;
        pallux::MakeIntf<TDatabaseChangesZumvo>()->GetUpdateScripts(scripts);
        for (const auto& s : scripts)
            host.Run(s);
        ASSERT_TRUE(CreateService(store));
    }

    // Records a sale as the till does: a basket for the till, a transaction per code, accepted
    // codes saved, the basket total, and the invoice attached when there is one (0: none).
    // Answers the basket ID.
    std::int32_t Sale(std::int32_t till, std::int32_t invoice, const std::vector<TSaleCode>& codes,
                      const std::string& created) {
        const std::int32_t basket = store->AddBasket(till);
        double total = 0;
        int tv = 9000 + basket * 10;
        for (const auto& code : codes) {
            const std::int32_t trx = store->AddTransactionToBasket(basket);
            if (code.Status == TTransactionStatus::Started)
                continue;
            store->SavePayment(trx, ++tv, code.Amount, R"({"Zumvo": "PAY-100"})");
            total += code.Amount;
            if (code.Status != TTransactionStatus::Redeemed)
                test::PutStatus(trx, code.Status);
        }
        store->SaveBasketPayment(basket, total);
        if (invoice != 0) {
            store->SetBasketInvoice(basket, invoice);
            store->SetInvoicForBaskt(basket, invoice);
        }
        host.Run("UPDATE [ZumvoPaymentBasket] SET [Timestamp_Created] = '" + created +
                 "' WHERE [ID] = " + std::to_string(basket));
        return basket;
    }

    // The host's side of an invoice: its row and its Zumvo payment rows.
    void Invoice(std::int32_t number, std::int32_t till, int status, double total, const std::string& shift,
                 const std::string& date, const std::vector<double>& zumvoPayments) {
        host.Run(
            "INSERT INTO [INVOICES] ( [InvoiceNum], [fkTillID], [STATUS], [AFTERDISC], [SHIFTNUM], [DATE] ) "
            "VALUES ( " +
            std::to_string(number) + ", " + std::to_string(till) + ", " + std::to_string(status) + ", " +
            std::to_string(total) + ", " + shift + ", '" + date + "' )");
        for (double amount : zumvoPayments)
            host.Run("INSERT INTO [InvoicesPayment] ( [InvoiceNum], [PaymentType], [Amount] ) VALUES ( " +
                     std::to_string(number) + ", 'Zumvo', " + std::to_string(amount) + " )");
    }

    // A host configuration for the programs on this test's database, the module copied into the
    // test folder (its settings and log stay there).
    std::filesystem::path ProgramConfig(const std::string& access) {
        std::filesystem::copy_file(std::filesystem::path(ZUMVO_BIN_DIR) / ModuleFileName,
                                   host.Folder / ModuleFileName,
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::copy_file(ModuleSettingsFile(), host.Folder / ModuleSettingsFileName,
                                   std::filesystem::copy_options::overwrite_existing);
        const auto config = host.Folder / "program.ini";
        std::ofstream(config) << "[Host]\nStoreID=12\nTillID=1\n[Headless]\nTranscript=transcript.txt\n"
                                 "[Database]\nFile=host.db\n"
                              << access;
        return config;
    }
    TProgramRun Program(const std::string& program, const std::filesystem::path& config,
                        std::vector<std::string> args) {
        args.insert(args.begin(), {"--headless", "--config", config.string(), "--module",
                                   (host.Folder / ModuleFileName).string()});
        return RunProgram(BuiltProgram(program), args);
    }
    std::vector<std::string> TranscriptLines() {
        std::ifstream in(host.Folder / "transcript.txt");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    // chromium on the PATH; empty when there is none.
    static std::string ChromiumProgram() {
        const char* path = std::getenv("PATH");
        std::istringstream dirs(path ? path : "");
        for (std::string dir; std::getline(dirs, dir, ':');)
            if (!dir.empty() && std::filesystem::exists(std::filesystem::path(dir) / "chromium"))
                return (std::filesystem::path(dir) / "chromium").string();
        return {};
    }
    // Headless Chromium on a local file: the DOM it built, or a screenshot.
    std::string Chromium(std::vector<std::string> actions, const std::filesystem::path& page) {
        const auto profile = host.Folder / "chromium-profile";
        std::vector<std::string> args{"--headless",
                                      "--no-sandbox",
                                      "--disable-gpu",
                                      "--disable-quic",
                                      "--no-first-run",
                                      "--disable-background-networking",
                                      "--disable-component-update",
                                      "--disable-sync",
                                      "--user-data-dir=" + profile.string()};
        args.insert(args.end(), actions.begin(), actions.end());
        args.push_back("file://" + page.string());
        TChildOptions options;
        options.DropErrors = true;
        TChildProcess chromium(ChromiumProgram(), args, options);
        std::string dom = chromium.ReadAll(120000);
        chromium.Wait();
        return dom;
    }
    std::string DumpDom(const std::filesystem::path& page) { return Chromium({"--dump-dom"}, page); }
    void Screenshot(const std::filesystem::path& page, const std::string& png) {
        const auto file = ScreenshotFolder() / png;
        std::filesystem::remove(file);
        Chromium({"--window-size=1800,600", "--screenshot=" + file.string()}, page);
        EXPECT_TRUE(std::filesystem::exists(file)) << file;
    }

    // The rows of the DOM's tables, each the inner HTML of its cells (Chromium writes tags in
    // lower case, without nested tables here).
    static std::vector<TPageRow> Rows(const std::string& dom) {
        std::vector<TPageRow> rows;
        for (std::size_t r = dom.find("<tr"); r != std::string::npos; r = dom.find("<tr", r + 1)) {
            const std::size_t end = dom.find("</tr>", r);
            const std::string inner = dom.substr(r, end - r);
            TPageRow cells;
            for (std::size_t c = inner.find("<t", 3); c != std::string::npos; c = inner.find("<t", c + 1)) {
                if (inner.compare(c, 3, "<td") != 0 && inner.compare(c, 3, "<th") != 0)
                    continue;
                const std::size_t open = inner.find('>', c) + 1;
                const std::size_t close = inner.find("</t", open);
                cells.push_back(inner.substr(open, close - open));
                c = close;
            }
            rows.push_back(cells);
        }
        return rows;
    }
    static std::string Between(const std::string& dom, const std::string& open, const std::string& close) {
        const auto b = dom.find(open);
        if (b == std::string::npos)
            return {};
        const auto e = dom.find(close, b + open.size());
        return dom.substr(b + open.size(), e == std::string::npos ? std::string::npos : e - b - open.size());
    }
};

} // namespace zumvo::test
