// A till on the reference host's container and core services, a fresh SQLite database, and
// small fakes of the module's extension points that write every call into one journal, so
// tests can check what the till asked of the module and in which order.
#pragma once

#include "DatabaseRows.h"
#include "HostSchema.h"
#include "TCashPaymentMethod.h"
#include "TDIContainer.h"
#include "TEventManager.h"
#include "THostServices.h"
#include "TTill.h"
#include "intfDisplayMessage.h"
#include "intfPaymentMethod.h"
#include "intfPrinterAddon.h"
#include "intfVoucher.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <deque>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace till_test {

using TJournal = std::vector<std::string>;

// The voucher handler: answers from a queue; with a screen, DoVoucher(true) first runs a modal
// window with txtVoucherCode, btnCheck (shows lblResult), btnDone and btnCancel (asks through
// the host's display-message service) before answering.
class TFakeVoucher : public pallux::TInterfacedObject<pallux::IVoucher> {
public:
    TFakeVoucher(TJournal& journal, std::deque<std::string>& answers, refhost::TDIContainer* container,
                 bool screen)
        : FJournal(journal), FAnswers(answers), FContainer(container), FScreen(screen) {}
    void PALLUX_CALL GetDisplayName(std::string& name) override { name = "Fake Voucher"; }
    void PALLUX_CALL GetName(std::string& name) override { name = "Zumvo"; }
    bool PALLUX_CALL DoVoucher(const std::string& data, std::string& answer, bool fromScreen) override {
        FJournal.push_back(std::string("DoVoucher ") + (fromScreen ? "true " : "false ") + data);
        if (fromScreen && FScreen && !RunScreen())
            return answer = R"({"Result":false})", false;
        answer = FAnswers.empty() ? R"({"Result":false})" : FAnswers.front();
        if (!FAnswers.empty())
            FAnswers.pop_front();
        return answer.find("\"Result\":true") != std::string::npos;
    }
    std::int32_t PALLUX_CALL GetVoucherInfo(std::int32_t, std::string& info) override {
        return info.clear(), 0;
    }
    bool PALLUX_CALL CancelVoucher(const std::string& data) override {
        FJournal.push_back("CancelVoucher " + data);
        return false;
    }
    bool PALLUX_CALL TransactionFinalise(const std::string& data, std::string& answer) override {
        FJournal.push_back("TransactionFinalise " + data);
        answer = "{}";
        return true;
    }
    void PALLUX_CALL OverringInvoice(std::int32_t, std::int32_t invoiceNum) override {
        FJournal.push_back("OverringInvoice " + std::to_string(invoiceNum));
    }
    void PALLUX_CALL PopulateForInvoice(std::int32_t invoiceNum, const std::string& voucherReturn) override {
        FJournal.push_back("PopulateForInvoice " + std::to_string(invoiceNum) + " " + voucherReturn);
    }
    void PALLUX_CALL Reset() override { FJournal.push_back("Reset"); }

private:
    TJournal& FJournal;
    std::deque<std::string>& FAnswers;
    refhost::TDIContainer* FContainer;
    bool FScreen;

    bool RunScreen() {
        QDialog dialog;
        dialog.setWindowTitle("Fake Payment");
        auto* layout = new QVBoxLayout(&dialog);
        auto* code = new QLineEdit;
        code->setObjectName("txtVoucherCode");
        auto* result = new QPushButton("-");
        result->setObjectName("lblResult");
        result->setVisible(false);
        auto* check = new QPushButton("Redeem");
        check->setObjectName("btnCheck");
        auto* done = new QPushButton("Done");
        done->setObjectName("btnDone");
        auto* cancel = new QPushButton("Cancel");
        cancel->setObjectName("btnCancel");
        for (QWidget* w : std::initializer_list<QWidget*>{code, result, check, done, cancel})
            layout->addWidget(w);
        QObject::connect(check, &QPushButton::clicked, [&] {
            FJournal.push_back("screen check " + code->text().toStdString());
            result->setText("Approved " + code->text());
            result->setVisible(true);
        });
        QObject::connect(done, &QPushButton::clicked, [&] { dialog.accept(); });
        QObject::connect(cancel, &QPushButton::clicked, [&] {
            pallux::IntfPtr<pallux::IDisplayMessage> messages;
            FContainer->CreateInstance(messages);
            if (messages->ShowMessage("Cancel them?", pallux::mtConfirmation, pallux::mbYes | pallux::mbNo) ==
                pallux::mrYes)
                dialog.reject();
        });
        return dialog.exec() == QDialog::Accepted;
    }
};

// A tender that journals its cash-up calls and takes payment unless told to refuse.
class TFakeTender : public pallux::TInterfacedObject<pallux::IPaymentMethod> {
public:
    TFakeTender(TJournal& journal, bool takes) : FJournal(journal), FTakes(takes) {}
    void PALLUX_CALL SetAmount(pallux::TCurrency amount) override { FAmount = amount; }
    void PALLUX_CALL SetOnChange(const pallux::TPaymentMethodChangeEvent&) override {}
    void PALLUX_CALL SetSecondAmount(pallux::TCurrency) override {}
    pallux::TCurrency PALLUX_CALL GetAmount() override { return FAmount; }
    pallux::TPaymentMethodChangeEvent PALLUX_CALL GetOnChange() override { return {}; }
    pallux::TCurrency PALLUX_CALL GetSecondAmount() override { return 0; }
    pallux::IntfPtr<pallux::IStringConfigList> PALLUX_CALL GetConfigList() override { return {}; }
    void PALLUX_CALL SetTextValue(const std::string&) override {}
    std::string PALLUX_CALL GetNameA() override { return "Zumvo"; }
    std::string PALLUX_CALL GetNameB() override { return "Zumvo"; }
    std::string PALLUX_CALL GetNameC() override { return "Zumvo"; }
    bool PALLUX_CALL Pay() override {
        FJournal.push_back("Pay " + std::to_string(FAmount));
        return FTakes;
    }
    void PALLUX_CALL Reset() override {}
    void PALLUX_CALL AddCashupEntry(std::int32_t a, std::int32_t invoiceNum,
                                    const pallux::TAddCashupEntryProc& proc) override {
        FJournal.push_back("AddCashupEntry " + std::to_string(a) + " " + std::to_string(invoiceNum) + " " +
                           std::to_string(FAmount));
        if (proc && FAmount > 0)
            proc(invoiceNum, a, "PAYMENT:ZUMVO", 0, 0, static_cast<double>(FAmount) / pallux::CurrencyScale,
                 0, 0);
    }
    void PALLUX_CALL ReportPaymentCode(std::int32_t a, std::int32_t b,
                                       const pallux::TPaymentCodeProc& proc) override {
        FJournal.push_back("ReportPaymentCode " + std::to_string(a) + " " + std::to_string(b));
        if (proc && FAmount != 0)
            proc(b, a, "PAYMENT:ZUMVO");
    }
    void PALLUX_CALL Hook1() override {}
    void PALLUX_CALL Hook2() override {}
    void PALLUX_CALL Hook3() override {}
    void PALLUX_CALL DoOverringInvoice() override { FJournal.push_back("DoOverringInvoice"); }

private:
    TJournal& FJournal;
    bool FTakes;
    pallux::TCurrency FAmount = 0;
};

// A receipt add-on: its fourth text names the invoice it was initialised with.
class TFakeAddon : public pallux::TInterfacedObject<pallux::IPrinterAddon> {
public:
    explicit TFakeAddon(TJournal& journal) : FJournal(journal) {}
    void PALLUX_CALL Initialise(const std::string& invoice) override {
        FJournal.push_back("Initialise " + invoice);
        FInvoice = invoice;
    }
    bool PALLUX_CALL GetAddonText1(std::string& text) override { return text.clear(), false; }
    bool PALLUX_CALL GetAddonText2(std::string& text) override { return text.clear(), false; }
    bool PALLUX_CALL GetAddonText3(std::string& text) override { return text.clear(), false; }
    bool PALLUX_CALL GetAddonText4(std::string& text) override {
        text = "\r\n**** Fake block ****\r\nfor " + FInvoice + "\r\n";
        return !FInvoice.empty();
    }

private:
    TJournal& FJournal;
    std::string FInvoice;
};

class TTillTestHost {
public:
    explicit TTillTestHost(bool voucherScreen = false, bool tenderTakes = false) {
        static int counter = 0;
        Folder = std::filesystem::temp_directory_path() /
                 ("zumvo_till_" + std::to_string(getpid()) + "_" + std::to_string(++counter));
        std::filesystem::remove_all(Folder);
        std::filesystem::create_directories(Folder);
        std::ofstream(Folder / "host.ini")
            << "[Host]\nStoreID=12\nTillID=3\nShiftNum=7\n[Access]\nUser=Anna\n";
        Context = refhost::THostContext::Load(Folder / "host.ini", "Invoicing", true);
        Container = pallux::MakeIntf<refhost::TDIContainer, refhost::TDIContainer>();
        refhost::RegisterCoreServices(*Container, Context);
        Database = refhost::OpenDatabase((Folder / "host.db").string());
        refhost::CreateHostTables(*Database, true);
        refhost::RegisterCashTender(*Container);
        auto* c = Container.get();
        Register<pallux::IVoucher>("Zumvo", [this, c, voucherScreen] {
            return pallux::MakeIntf<TFakeVoucher>(Journal, Answers, c, voucherScreen);
        });
        Register<pallux::IPaymentMethod>(
            "Zumvo", [this, tenderTakes] { return pallux::MakeIntf<TFakeTender>(Journal, tenderTakes); });
        Register<pallux::IPrinterAddon>("Zumvo", [this] { return pallux::MakeIntf<TFakeAddon>(Journal); });
        pallux::IntfPtr<pallux::IEventManager> events;
        Container->GetInstance(events);
        for (const char* e :
             {"Pallux.Invoicing.Transaction.BeforePayment",
              "Pallux.Invoicing.Transaction.AfterPaymentSuccess",
              "Pallux.Invoicing.Transaction.AfterPaymentFailed", "Pallux.Cashup.DriverCashup.Start",
              "Pallux.Cashup.DriverCashup.Payment", "Pallux.Cashup.DriverCashup.InsertCashup",
              "Pallux.Cashup.DriverCashup.Complete"})
            events->Subscribe(e, Token.Bind<&TTillTestHost::OnEvent>(this));
        Till = std::make_unique<refhost::TTill>(*Container, Context, Database);
    }
    // Everything that holds the database or a file in the folder goes before the folder: Windows
    // refuses to delete a file that is still open. A folder that cannot be removed fails the test
    // rather than ending the program from a destructor.
    ~TTillTestHost() {
        Till.reset();
        Container.reset();
        Database.reset();
        Context.reset();
        std::error_code error;
        std::filesystem::remove_all(Folder, error);
        if (error)
            ADD_FAILURE() << "cannot remove " << Folder.string() << ": " << error.message();
    }

    std::vector<std::string> Rows(const std::string& sql) { return zumvo::test::RowTexts(*Database, sql); }
    // Journal entries that start with the prefix.
    std::vector<std::string> Calls(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& j : Journal)
            if (j.starts_with(prefix))
                out.push_back(j);
        return out;
    }

    std::filesystem::path Folder;
    std::shared_ptr<refhost::THostContext> Context;
    pallux::IntfPtr<refhost::TDIContainer> Container;
    std::shared_ptr<refhost::TDatabase> Database;
    TJournal Journal;
    std::deque<std::string> Answers;
    std::unique_ptr<refhost::TTill> Till;

private:
    pallux::TEventSubscriberToken Token;
    void OnEvent(const std::string& name, const std::string&, std::int64_t) {
        Journal.push_back("event " + name);
    }
    template <class I> void Register(const std::string& name, std::function<pallux::IntfPtr<I>()> make) {
        Container->RegisterNamedFactory(I::IID, name,
                                        pallux::MakeIntf<refhost::THostFactory<I>>(std::move(make)).get());
    }
};

} // namespace till_test
