// Scenario files and the scenario runner: steps that drive a modal window of the module through
// its controls, message box answers, expectations, and runs that end with a message naming the
// step instead of hanging.
#include "TScenarioRunner.h"
#include "TTillWindow.h"
#include "TillTestHost.h"

#include <QImage>

using namespace refhost;
using till_test::TTillTestHost;

namespace {

struct TRunResult {
    int ExitCode;
    std::string Failure;
    std::vector<std::string> Transcript;
};

TRunResult RunScenario(TTillTestHost& host, const std::string& json) {
    TTillWindow window(*host.Till);
    window.show();
    TScenarioRunner runner(TScenario::Parse(json), *host.Till, *host.Context, &window, host.Folder);
    window.OnError = [&](const std::string& action, const std::string& message) {
        runner.FailCurrent(action + ": " + message);
    };
    host.Context->TranscribeAnswers = true;
    runner.Start();
    const int rc = QApplication::exec();
    EXPECT_EQ(rc, runner.ExitCode());
    return {runner.ExitCode(), runner.Failure(), host.Context->Transcript.Lines()};
}

const char* const PaymentDiscount =
    R"({"VoucherCodes":["A"],"VoucherAmount":12,"VoucherType":"PaymentDiscount","PaymentType":"Zumvo",)"
    R"("PaymentAmount":8,"DiscountAmount":4,"DiscountIsPercent":false,"DiscountCode":"ZUMVO-DISC","Result":true})";

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

} // namespace

TEST(ScenarioTest, FilesWithMistakesAreRefusedBeforeAnythingRuns) {
    const struct {
        const char* Json;
        const char* Error;
    } cases[] = {
        {"[{\"step\":\"clik\",\"control\":\"btnOK\"}]", "step 1: unknown step \"clik\""},
        {"[{\"step\":\"voucher\"},{\"step\":\"type\",\"control\":\"x\"}]", "step 2: \"type\" needs \"text\""},
        {"[{\"step\":\"add\",\"code\":\"A\",\"price\":1,\"colour\":\"red\"}]",
         "\"add\" has no member \"colour\""},
        {"[{\"step\":\"answer\",\"button\":\"Maybe\"}]", "step 1: unknown button \"Maybe\""},
        {"[{\"step\":\"expect\"}]", "\"expect\" needs something to expect"},
        {"[{\"step\":\"expect\",\"control\":\"lbl\"}]", "needs text, contains, visible or enabled"},
        {"{\"steps\":[], \"timeout\": 5}", "unknown member \"timeout\""},
        {"{\"name\":\"x\"}", "a scenario is a list of steps"},
        {"[1]", "step 1: a step is an object"},
        {"{", "not JSON"},
    };
    for (const auto& c : cases) {
        try {
            TScenario::Parse(c.Json);
            ADD_FAILURE() << c.Json << ": accepted";
        } catch (const EScenarioError& e) {
            EXPECT_NE(std::string(e.what()).find(c.Error), std::string::npos) << c.Json << ": " << e.what();
        }
    }
    const auto s =
        TScenario::Parse(R"({"name":"n","cashier":"Bo","timeoutMs":250,"steps":[{"step":"voucher"}]})");
    EXPECT_EQ(s.Cashier, "Bo");
    EXPECT_EQ(s.TimeoutMs, 250);
    ASSERT_EQ(s.Steps.size(), 1u);
    EXPECT_EQ(s.Steps[0].Title(), "step 1 (voucher)");
}

TEST(ScenarioTest, ASaleDrivesTheModuleWindowThroughItsControlsAndTakesPictures) {
    TTillTestHost host(true);
    host.Answers.push_back(PaymentDiscount);
    const auto r = RunScenario(host, R"({"name":"sale","cashier":"Bo","steps":[
        {"step":"add","code":"BREAD","description":"Bread","price":10,"quantity":2},
        {"step":"voucher"},
        {"step":"expect","window":"Fake Payment"},
        {"step":"expect","control":"lblResult","visible":false},
        {"step":"type","control":"txtVoucherCode","text":"ABC 1"},
        {"step":"click","control":"btnCheck"},
        {"step":"expect","control":"lblResult","text":"Approved ABC 1"},
        {"step":"screenshot","file":"pictures/payment.png"},
        {"step":"screenshot","file":"pictures/window.png","window":true},
        {"step":"click","control":"btnDone"},
        {"step":"expect","total":16,"outstanding":8},
        {"step":"pay","tender":"Cash"},
        {"step":"complete"},
        {"step":"expect","receipt":"**** Fake block ****"},
        {"step":"expect","control":"txtReceipt","contains":"Cashier: Bo"},
        {"step":"screenshot","file":"pictures/till.png"}]})");
    EXPECT_EQ(r.ExitCode, 0) << r.Failure;
    EXPECT_EQ(host.Calls("screen check"), std::vector<std::string>{"screen check ABC 1"});
    EXPECT_TRUE(Has(r.Transcript, "SCENARIO: passed (16 steps)"));
    for (const char* file : {"payment.png", "till.png"}) {
        const QImage image(QString::fromStdString((host.Folder / "pictures" / file).string()));
        EXPECT_EQ(image.size(), QSize(1024, 768)) << file;
    }
    const QImage window(QString::fromStdString((host.Folder / "pictures" / "window.png").string()));
    EXPECT_FALSE(window.isNull());
    EXPECT_LT(window.width(), 1024);
}

// Text outside ASCII (accented letters, the euro sign, a character beyond the BMP) is typed as
// it is: the till does not stop, and the code box holds the text whole.
TEST(ScenarioTest, TypingTextOutsideAsciiReachesTheControlWhole) {
    TTillTestHost host(true);
    host.Answers.push_back(PaymentDiscount);
    const auto r = RunScenario(host, R"({"name":"typing","cashier":"Bo","steps":[
        {"step":"add","code":"BREAD","description":"Bread","price":10,"quantity":2},
        {"step":"voucher"},
        {"step":"type","control":"txtVoucherCode","text":"CAFÉ-€ 1 😀"},
        {"step":"click","control":"btnCheck"},
        {"step":"expect","control":"lblResult","text":"Approved CAFÉ-€ 1 😀"},
        {"step":"click","control":"btnDone"},
        {"step":"pay","tender":"Cash"},
        {"step":"complete"}]})");
    EXPECT_EQ(r.ExitCode, 0) << r.Failure;
    EXPECT_EQ(host.Calls("screen check"), std::vector<std::string>{"screen check CAFÉ-€ 1 😀"});
}

TEST(ScenarioTest, RunsThatCannotGoOnEndWithTheStepNamedAndNoWindowLeftOpen) {
    const struct {
        const char* Name;
        const char* Steps;
        const char* Failure;
    } cases[] = {
        {"no such control",
         R"([{"step":"add","code":"A","price":1},{"step":"voucher"},{"step":"click","control":"btnNope"}])",
         "step 3 (click btnNope): there is no control \"btnNope\" in the window \"Fake Payment\""},
        {"hidden control",
         R"([{"step":"add","code":"A","price":1},{"step":"voucher"},{"step":"click","control":"lblResult"}])",
         "step 3 (click lblResult): the control \"lblResult\" is hidden"},
        {"cancel prompt answered No leaves the window open",
         R"([{"step":"add","code":"A","price":1},{"step":"voucher"},{"step":"answer","button":"No"},{"step":"click","control":"btnCancel"}])",
         "step 2 (voucher): the window \"Fake Payment\" is still open after the last step"},
        {"a message box that never came",
         R"([{"step":"add","code":"A","price":1},{"step":"answer","button":"Yes"},{"step":"pay","tender":"Cash"}])",
         "step 2 (answer Yes): no message box came by the end of step 3 (pay Cash)"},
        {"an answer left at the end",
         R"([{"step":"add","code":"A","price":1},{"step":"answer","button":"OK"}])",
         "step 2 (answer OK): no message box came by the end of the scenario"},
        {"a sale step while the window is open",
         R"([{"step":"add","code":"A","price":1},{"step":"voucher"},{"step":"complete"}])",
         "step 3 (complete): the window \"Fake Payment\" is open"},
        {"a failed expectation", R"([{"step":"add","code":"A","price":20},{"step":"expect","total":5}])",
         "step 2 (expect): expected the total 5.00; it is 20.00"},
        {"a refused sale action", R"([{"step":"add","code":"A","price":20},{"step":"complete"}])",
         "step 2 (complete): 20.00 is still to pay on invoice 1"},
        {"a disabled button of the till", R"([{"step":"click","control":"btnVoucher"}])",
         "step 1 (click btnVoucher): the control \"btnVoucher\" is disabled"},
        {"the till's own Voucher button opens the window",
         R"([{"step":"add","code":"A","price":1},{"step":"click","control":"btnVoucher"},{"step":"click","control":"btnDone"}])",
         ""},
    };
    for (const auto& c : cases) {
        TTillTestHost host(true);
        const auto r = RunScenario(host, std::string(R"({"timeoutMs":300,"steps":)") + c.Steps + "}");
        if (*c.Failure == '\0') {
            EXPECT_EQ(r.ExitCode, 0) << c.Name << ": " << r.Failure;
            continue;
        }
        EXPECT_EQ(r.ExitCode, 1) << c.Name;
        EXPECT_NE(r.Failure.find(c.Failure), std::string::npos) << c.Name << ": " << r.Failure;
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << c.Name;
        EXPECT_TRUE(Has(r.Transcript, "SCENARIO: " + r.Failure)) << c.Name;
    }
}

TEST(ScenarioTest, CancelPromptAnsweredYesClosesTheWindowAndTheAnswerIsTranscribed) {
    TTillTestHost host(true);
    const auto r = RunScenario(host, R"([{"step":"add","code":"A","price":1},{"step":"voucher"},
        {"step":"answer","button":"Yes"},{"step":"click","control":"btnCancel"},{"step":"expect","total":1},
        {"step":"cancel"}])");
    EXPECT_EQ(r.ExitCode, 0) << r.Failure;
    const auto message =
        std::find(r.Transcript.begin(), r.Transcript.end(), "MESSAGE: confirmation: Cancel them?");
    ASSERT_NE(message, r.Transcript.end());
    EXPECT_EQ(*(message + 1), "ANSWER: Yes");
    EXPECT_EQ(host.Calls("CancelVoucher").size(), 1u);
}

// A sale step may be expected to be refused ("refused": a text of the reason): the run goes on
// when the till refuses it with that reason, and ends naming the step when the till carries it
// out or refuses it for another reason. Screen steps take no "refused".
TEST(ScenarioTest, AStepExpectedToBeRefusedMustBeRefusedWithItsReason) {
    const char* const sale =
        R"({"step":"add","code":"A","price":10.05},{"step":"pay","tender":"Cash","amount":0.01})";
    const struct {
        const char* Name;
        std::string Steps;
        const char* Failure; // "": the run passes
    } cases[] = {
        {"refused as expected",
         std::string("[") + sale +
             R"(,{"step":"complete","refused":"10.04 is still to pay"},{"step":"giveback"},{"step":"expect","outstanding":10.05}])",
         ""},
        {"carried out",
         std::string("[") + sale + R"(,{"step":"add","code":"B","price":1,"refused":"Give back"}])",
         "step 3 (add B): expected the step to be refused (\"Give back\"); it was carried out"},
        {"refused for another reason",
         std::string("[") + sale + R"(,{"step":"remove","code":"Z","refused":"Give back"}])",
         "step 3 (remove Z): expected the refusal \"Give back\"; the till said \"The invoice has no line Z\""},
        {"nothing to give back", R"([{"step":"add","code":"A","price":1},{"step":"giveback"}])",
         "step 2 (giveback): Invoice 1 has no payment of another tender to give back"},
    };
    for (const auto& c : cases) {
        TTillTestHost host;
        const auto r = RunScenario(host, R"({"timeoutMs":300,"steps":)" + c.Steps + "}");
        if (*c.Failure == '\0') {
            EXPECT_EQ(r.ExitCode, 0) << c.Name << ": " << r.Failure;
            EXPECT_TRUE(Has(r.Transcript, "REFUSED: 10.04 is still to pay on invoice 1")) << c.Name;
            continue;
        }
        EXPECT_EQ(r.ExitCode, 1) << c.Name;
        EXPECT_NE(r.Failure.find(c.Failure), std::string::npos) << c.Name << ": " << r.Failure;
    }
    try {
        TScenario::Parse(R"([{"step":"click","control":"btnOK","refused":"x"}])");
        ADD_FAILURE() << "a screen step took \"refused\"";
    } catch (const EScenarioError& e) {
        EXPECT_NE(std::string(e.what()).find("\"click\" has no member \"refused\""), std::string::npos)
            << e.what();
    }
}
