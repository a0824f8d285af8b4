#include "VoucherEngineFixture.h"
#include "clsMoney.h"

#include "SimHttp.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include "SimpleXMLtoJSON.h"

#include <fmt/format.h>

#include <fstream>

namespace zumvo::test {

namespace {

// SPLIT-50 covers up to 50.00, 60% of it payment: 50 = 30 + 20.
const char* Catalogue = R"({"codes": [
  {"code": "PAY-100", "kind": "payment", "value": 10000},
  {"code": "SPLIT-50", "kind": "split", "value": 5000, "paymentPercent": 60},
  {"code": "DISC-5", "kind": "discount", "value": 500},
  {"code": "LOYAL-1", "kind": "loyalty", "loyalty": {"name": "Coffee Club", "earned": "1 stamp"}},
  {"code": "BLOCKED", "kind": "refused", "responseCode": "12", "responseDesc": "Voucher blocked"}
]})";

template <class Factory> pallux::IntfPtr<pallux::IServiceFactory> NewFactory() {
    return pallux::MakeIntf<Factory, pallux::IServiceFactory>();
}

TfrmZumvoPayment* OpenScreen() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* screen = dynamic_cast<TfrmZumvoPayment*>(w); screen && screen->isVisible())
            return screen;
    return nullptr;
}

} // namespace

void VoucherEngineTest::SetUp() {
    FCatalogue = host.Folder / "catalogue.json";
    std::ofstream(FCatalogue) << Catalogue;
    simulator = std::make_unique<TChildProcess>(
        BuiltProgram("zumvo_voucher_sim"),
        std::vector<std::string>{"--port", "0", "--catalogue", FCatalogue.string(), "--quiet"});
    port = AnnouncedPort(simulator->ReadLine());
    ASSERT_GT(port, 0) << "the voucher simulator did not start";

    // The engine's documented behaviour is checked without the automatic advice retry, which has
    // suites of its own (they turn it on with WriteModuleSettings).
    WriteModuleSettings("AdviceRetryAttempts=0\n");
    std::vector<std::string> scripts;
    pallux::MakeIntf<TDatabaseChangesZumvo>()->GetUpdateScripts(scripts);
    for (const auto& s : scripts)
        host.Run(s);
    auto& c = *host.Container;
    c.RegisterFactory(ICurrentBasket::IID, NewFactory<TCurrentBasketFactory>().get());
    c.RegisterFactory(IZumvoLogic::IID, NewFactory<TZumvoLogicFactory>().get());
    c.RegisterFactory(IZumvoAPI::IID, NewFactory<TZumvoAPIFactory>().get());
    refhost::RegisterHostFactory<pallux::IRestClient>(c, [] {
        refhost::TRestSettings s;
        s.ConnectTimeoutMs = 2000;
        s.RequestTimeoutMs = 5000;
        return pallux::MakeIntf<refhost::TRestClient>(s);
    });
    ASSERT_TRUE(CreateService(store));

    FScreenWatch = std::make_unique<QTimer>();
    QObject::connect(FScreenWatch.get(), &QTimer::timeout, [this] { WatchScreens(); });
    FScreenWatch->start(5);
}

void VoucherEngineTest::WriteModuleSettings(const std::string& extra, int providerStore) {
    host.WriteSettings("[Settings]\nZumvoStoreID=" + std::to_string(providerStore) +
                       "\nSOAPServer=http://127.0.0.1:" + std::to_string(port) +
                       "\nSOAPUrl=/pos/services/PosService\nSOAPID=zumvo\nSOAPPWD=zumvo-secret\n" + extra);
}

void VoucherEngineTest::TearDown() {
    FScreenWatch.reset();
    if (port > 0) {
        EXPECT_EQ(LedgerCheck(), "") << "the module's rows and the provider's ledger disagree";
    }
    EXPECT_EQ(UnexpectedScreens, 0) << "a payment screen opened that the test did not expect";
    host.Container->ReleaseInstance(ICurrentBasket::IID);
}

pallux::IntfPtr<TVoucherZumvo> VoucherEngineTest::NewEngine() {
    return pallux::MakeIntf<TVoucherZumvo, TVoucherZumvo>();
}

std::string VoucherEngineTest::Invoice(double afterDisc, int lines, std::int32_t invoiceNum) {
    TJSONDocument data;
    data.Add("InvoiceNum", invoiceNum);
    data.Add("AfterDisc", afterDisc);
    data.Add("Cashier", "9");
    TJSONValue items = data.AddArray("LineItems");
    for (int i = 0; i < lines; ++i) {
        TJSONValue item = items.AppendObject();
        item.Add("Code", "SKU" + std::to_string(i + 1));
        item.Add("Price", 1.0);
        item.Add("Quantity", 1);
    }
    return data.ToJSON();
}

std::vector<TScreenStep> VoucherEngineTest::RedeemAndDone(const std::vector<std::string>& codes) {
    std::vector<TScreenStep> steps;
    for (const auto& code : codes) {
        steps.push_back({TScreenStep::Type, "txtVoucherCode", code});
        steps.push_back({TScreenStep::Click, "btnCheck", ""});
        steps.push_back({TScreenStep::Click, "btnOK", ""});
    }
    steps.push_back({TScreenStep::Click, "btnDone", ""});
    return steps;
}

void VoucherEngineTest::AnswerMessages(std::initializer_list<std::int32_t> answers) {
    for (auto a : answers)
        host.Context->MessageAnswers.push_back(a);
}

TJSONDocument VoucherEngineTest::ApplyCodes(TVoucherZumvo& engine, const std::vector<std::string>& codes,
                                            double afterDisc, int lines) {
    OnNextScreen(RedeemAndDone(codes));
    std::string answer;
    EXPECT_TRUE(engine.DoVoucher(Invoice(afterDisc, lines), answer, true));
    EXPECT_FALSE(FScriptArmed) << "the payment screen did not open";
    return TJSONDocument::Parse(answer);
}

std::int32_t VoucherEngineTest::SeedInvoice(TVoucherZumvo& engine, const std::vector<std::string>& codes,
                                            double afterDisc, std::int32_t invoiceNum) {
    const std::int32_t basket = store->AddBasket(3);
    pallux::IntfPtr<IZumvoLogic> logic;
    EXPECT_TRUE(CreateService(logic));
    pallux::IntfPtr<IZumvoAPI> api;
    logic->ZumvoAPI(api);
    EXPECT_TRUE(api);
    std::int64_t outstanding = CentsOf(afterDisc);
    for (const auto& code : codes) {
        const std::int32_t row = store->AddTransactionToBasket(basket);
        std::string reply;
        api->Transaction("12-" + std::to_string(basket), "9", "12-" + std::to_string(row), code, "ZUMVO",
                         static_cast<std::int32_t>(outstanding), static_cast<std::int32_t>(outstanding),
                         "PAYMENT", "[]", reply);
        TJSONDocument data = ReadSoapAnswer(reply, "transactionResponse");
        EXPECT_EQ(data["responseCode"].AsString(), "-1") << code;
        const std::int64_t total = data["totalAmountProcessed"].AsInt64(0);
        const std::int64_t settle = data["amountToSettle"].AsInt64(0);
        data.Add("Zumvo", code);
        data.Add("PaymentAmount", fmt::format("{}", static_cast<double>(settle) / 100));
        data.Add("DiscountAmount", fmt::format("{}", static_cast<double>(total - settle) / 100));
        store->SavePayment(row, data["tvTrxId"].AsInteger(), static_cast<double>(total) / 100, data.ToJSON());
        outstanding -= total;
    }
    store->SetBasketInvoice(basket, invoiceNum);
    store->SetInvoicForBaskt(basket, invoiceNum);
    engine.PopulateForInvoice(invoiceNum, "{}");
    return basket;
}

void VoucherEngineTest::WatchScreens() {
    TfrmZumvoPayment* screen = OpenScreen();
    if (!screen)
        return;
    ++ScreensShown;
    if (!FScriptArmed) {
        ++UnexpectedScreens;
        screen->done(QDialog::Rejected);
        return;
    }
    FScriptArmed = false;
    RunScript(*screen);
}

void VoucherEngineTest::RunScript(TfrmZumvoPayment& screen) {
    for (const TScreenStep& step : FScript) {
        if (step.Kind == TScreenStep::Type) {
            auto* edit = screen.findChild<QLineEdit*>(QString::fromStdString(step.Target));
            ASSERT_NE(edit, nullptr) << step.Target;
            edit->clear();
            QTest::keyClicks(edit, QString::fromStdString(step.Text));
        } else {
            auto* button = screen.findChild<QAbstractButton*>(QString::fromStdString(step.Target));
            ASSERT_NE(button, nullptr) << step.Target;
            ASSERT_TRUE(button->isVisible() && button->isEnabled()) << step.Target << " cannot be pressed";
            QTest::mouseClick(button, Qt::LeftButton);
        }
    }
    if (screen.isVisible()) {
        ADD_FAILURE() << "the payment screen stayed open after its steps";
        screen.done(QDialog::Rejected);
    }
}

void VoucherEngineTest::Raise(const std::string& eventName) {
    pallux::IntfPtr<pallux::IEventManager> events;
    ASSERT_TRUE(GetInstanceService(events));
    events->RaiseEvent(eventName, "", 0);
}

TJSONDocument VoucherEngineTest::Advices() {
    httplib::Client client("127.0.0.1", port);
    const auto answer = client.Get("/ledger/advices");
    if (!answer)
        throw std::runtime_error("no advice log");
    return TJSONDocument::Parse(answer->body);
}

void VoucherEngineTest::AddFault(const std::string& ruleJson) {
    httplib::Client client("127.0.0.1", port);
    const auto answer = client.Post("/faults", ruleJson, "application/json");
    ASSERT_TRUE(answer && answer->status == 200) << ruleJson;
}

void VoucherEngineTest::ClearFaults() {
    httplib::Client client("127.0.0.1", port);
    const auto answer = client.Post("/faults/clear", "", "application/json");
    ASSERT_TRUE(answer && answer->status == 200);
}

void VoucherEngineTest::SendAdvice(std::int32_t row, const std::string& action) {
    const auto rows =
        host.Rows("SELECT [tvTrxID] FROM [ZumvoPaymentTransactions] WHERE [ID] = " + std::to_string(row));
    pallux::IntfPtr<IZumvoLogic> logic;
    ASSERT_TRUE(CreateService(logic));
    pallux::IntfPtr<IZumvoAPI> api;
    logic->ZumvoAPI(api);
    ASSERT_TRUE(api);
    std::string reply;
    api->Advice("12-0", "9", "12-" + std::to_string(row), action, rows[0]["tvTrxID"].AsInteger(), "PAYMENT",
                reply);
    ASSERT_NE(reply.find("<responseCode>-1</responseCode>"), std::string::npos) << reply;
}

int VoucherEngineTest::StatusOf(std::int32_t row) {
    return std::stoi(
        host.Value("SELECT [Status] FROM [ZumvoPaymentTransactions] WHERE [ID] = " + std::to_string(row)));
}

std::vector<int> VoucherEngineTest::Statuses() {
    std::vector<int> out;
    const auto rows = Rows();
    for (int i = 0; i < rows._Count(); ++i)
        out.push_back(rows[i]["Status"].AsInteger());
    return out;
}

std::vector<std::string> VoucherEngineTest::StoreLog() {
    std::vector<std::string> out;
    const auto rows = host.Rows("SELECT [Message] FROM [zumvoPaymentLog] ORDER BY [ID]");
    for (int i = 0; i < rows._Count(); ++i)
        out.push_back(rows[i]["Message"].AsString());
    return out;
}

std::vector<std::string> VoucherEngineTest::Messages() {
    std::vector<std::string> out;
    for (const auto& line : host.Context->Transcript.Lines())
        if (line.rfind("MESSAGE", 0) == 0)
            out.push_back(line);
    return out;
}

} // namespace zumvo::test
