// The payment screen's test host: a real SQLite database with the module's tables, the module's
// provider services, the libcurl REST client and the voucher service simulator as a child
// program on a free port. The screen is driven through its controls' object names.
#pragma once

#include "ChildProcess.h"
#include "FZumvoPayment.h"
#include "PersistenceTestHost.h"
#include "TRestClient.h"
#include "implDataChangesZumvo.h"
#include "implZumvoAPI.h"
#include "implZumvoLogic.h"
#include "intfDisplayMessage.h"
#include "intfRestClient.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "SimHttp.h"

#include <memory>
#include <set>

namespace zumvo::test {

inline constexpr const char* ScreenCatalogue = R"({"codes": [
  {"code": "PAY10", "kind": "payment", "value": 1000},
  {"code": "SPLIT10", "kind": "split", "value": 1000, "paymentPercent": 60},
  {"code": "VSP10", "kind": "payment", "value": 1000,
   "vsp": {"responseCode": "0", "responseDesc": "Partner approved", "name": "Acme Rewards"}},
  {"code": "VSPLONG", "kind": "payment", "value": 1000,
   "vsp": {"responseCode": "0", "responseDesc": "Partner approved the whole amount at this store",
           "name": "Northwind Fuel and Grocery Loyalty Partners "}},
  {"code": "EXPIRED", "kind": "refused", "responseCode": "14",
   "responseDesc": "Voucher expired on 30 November and cannot be redeemed"},
  {"code": "LOYAL", "kind": "loyalty", "loyalty": {"name": "Coffee Club", "earned": "1 stamp"}},
  {"code": "BLOCKED", "kind": "refused", "responseCode": "12", "responseDesc": "Voucher blocked"},
  {"code": "MARKUP", "kind": "payment", "value": 1000,
   "vsp": {"responseCode": "0", "responseDesc": "<b>OK</b> &amp; <a href='x'>go</a>",
           "name": "<img src='logo.png'><h1>Big</h1>"}},
  {"code": "MARKUPNO", "kind": "refused", "responseCode": "19",
   "responseDesc": "<font color=green size=7>Approved</font>"},
  {"code": "WORDY", "kind": "refused", "responseCode": "16",
   "responseDesc": "This voucher cannot be redeemed at this store today: the partner's promotion has not started yet, so ask for another one"}
]})";

class TCashierTestHost : public TPersistenceTestHost {
public:
    static constexpr std::int32_t StoreID = 12;

    TCashierTestHost() {
        std::ofstream(Folder / "catalogue.json") << ScreenCatalogue;
        Sim = std::make_unique<TChildProcess>(
            BuiltProgram("zumvo_voucher_sim"),
            std::vector<std::string>{"--port", "0", "--quiet", "--catalogue",
                                     (Folder / "catalogue.json").string(), "--api-id", "pos",
                                     "--api-password", "pw-1"});
        const std::string line = Sim->ReadLine();
        Port = std::stoi(line.substr(line.rfind(' ') + 1));
        auto& c = *Container;
        c.RegisterFactory(IZumvoAPI::IID,
                          pallux::MakeIntf<TZumvoAPIFactory, pallux::IServiceFactory>().get());
        c.RegisterFactory(IZumvoLogic::IID,
                          pallux::MakeIntf<TZumvoLogicFactory, pallux::IServiceFactory>().get());
        refhost::RegisterHostFactory<pallux::IRestClient>(c, [] {
            refhost::TRestSettings s;
            s.ConnectTimeoutMs = 2000;
            s.RequestTimeoutMs = 3000;
            return pallux::MakeIntf<refhost::TRestClient>(s);
        });
        std::vector<std::string> scripts;
        pallux::MakeIntf<TDatabaseChangesZumvo>()->GetUpdateScripts(scripts);
        for (const auto& s : scripts)
            Run(s);
        WriteSettings("[Settings]\nSOAPServer=http://127.0.0.1:" + std::to_string(Port) +
                      "\nSOAPUrl=/pos/services/PosService\nSOAPID=pos\nSOAPPWD=pw-1\n");
        CreateService(Store);
        BasketID = Store->AddBasket(3);
    }

    // The invoice data the engine hands over, for an invoice of CurrentAmount cents.
    TJSONDocument InvoiceData(std::int64_t cents = 2550) const {
        TJSONDocument d =
            TJSONDocument::Parse(R"({"LineItems": [{"Code": "A1", "Price": 25.5, "Quantity": 1}]})");
        d.Add("CurrentAmount", cents);
        d.Add("AfterDisc", cents / 100.0);
        d.Add("BasketID", BasketID);
        d.Add("PalluxStoreID", StoreID);
        d.Add("TvStoreStoreID", 17);
        d.Add("CurrentTillID", 3);
        d.Add("Cashier", "9");
        return d;
    }
    pallux::IntfPtr<pallux::IINISettings> Settings() const {
        pallux::IntfPtr<pallux::IINISettings> s;
        CreateService(s);
        s->Open(ModuleSettingsFile(), "Settings");
        return s;
    }

    // The simulator's control endpoints.
    TJSONDocument SimGet(const std::string& path) {
        httplib::Client client("127.0.0.1", Port);
        auto r = client.Get(path);
        if (!r)
            throw std::runtime_error("simulator did not answer " + path);
        return TJSONDocument::Parse(r->body);
    }
    void AddFault(const std::string& rule) {
        httplib::Client client("127.0.0.1", Port);
        auto r = client.Post("/faults", rule, "application/json");
        if (!r || r->status != 200)
            throw std::runtime_error("fault refused: " + rule);
    }
    TJSONDocument Ledger() { return SimGet("/ledger"); }
    TJSONDocument Advices() { return SimGet("/ledger/advices"); }
    TJSONDocument TransactionRows() { return Rows("SELECT * FROM [ZumvoPaymentTransactions] ORDER BY [ID]"); }

    // The money check that ends a test: what each row says against the simulator's ledger.
    //   status 1, -3, or 0 with the provider's number (accepted, not yet kept): held
    //   status -1: released;  0 marked "outcome unknown": held or no entry;  0 otherwise: no entry
    // Every accepted entry belongs to a row, by its trxId "<store>-<row>", with the same number.
    std::string LedgerMismatches() {
        const TJSONDocument rows = TransactionRows();
        const TJSONDocument ledger = Ledger();
        std::string out;
        std::set<std::string> known;
        for (int i = 0; i < rows._Count(); ++i) {
            const TJSONValue row = rows[i];
            const std::string ref = std::to_string(StoreID) + "-" + row["ID"].AsString();
            known.insert(ref);
            std::string state = "none";
            for (int j = 0; j < ledger._Count(); ++j)
                if (ledger[j]["trxId"].AsString("") == ref) {
                    state = ledger[j]["state"].AsString("");
                    if (!row["tvTrxID"].IsNull() &&
                        ledger[j]["tvTrxId"].AsInteger(-2) != row["tvTrxID"].AsInteger(-1))
                        out += ref + ": provider number differs\n";
                }
            const int status = row["Status"].AsInteger();
            const bool unknown =
                row["RequestNote"].AsString("").find(R"("Outcome":"Unknown")") != std::string::npos;
            const bool numbered = !row["tvTrxID"].IsNull();
            std::set<std::string> allowed;
            if (status == 1 || status == -3 || (status == 0 && numbered))
                allowed = {"held"};
            else if (status == -1)
                allowed = {"released"};
            else if (status == 0 && unknown)
                allowed = {"held", "none"};
            else if (status == 0)
                allowed = {"none"};
            if (!allowed.count(state))
                out += ref + ": status " + std::to_string(status) + " but ledger " + state + "\n";
        }
        for (int j = 0; j < ledger._Count(); ++j)
            if (!known.count(ledger[j]["trxId"].AsString("")))
                out += ledger[j]["trxId"].AsString("") + ": in the ledger without a row\n";
        return out;
    }

    std::unique_ptr<TChildProcess> Sim;
    int Port = 0;
    pallux::IntfPtr<IZumvoTransaction> Store;
    std::int32_t BasketID = -1;
};

// Finds a control of the screen by its object name.
template <class T> T* Control(QWidget& form, const char* name) {
    T* w = form.findChild<T*>(name);
    if (!w)
        throw std::runtime_error(std::string("no control ") + name);
    return w;
}
inline std::string Text(QWidget& form, const char* name) {
    return Control<QLabel>(form, name)->text().toStdString();
}

} // namespace zumvo::test
