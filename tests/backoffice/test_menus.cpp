// The module's menu entries in each host program, and the access check of the report entry.
#include "BackOfficeTestHost.h"
#include "TMainMenuManager.h"
#include "implZumvoManagement.h"

#include <QApplication>
#include <QTimer>

using namespace zumvo;

namespace {

class MenuTest : public test::BackOfficeTest {
protected:
    std::vector<std::string> MenuLines(const std::vector<std::string>& lines) {
        std::vector<std::string> menus;
        for (const auto& l : lines)
            if (l.rfind("MENU: ", 0) == 0)
                menus.push_back(l.substr(6));
        return menus;
    }
};

} // namespace

TEST_F(MenuTest, EachProgramGetsItsEntries) {
    const auto config = ProgramConfig("[Access]\nUser=Demo\n");
    struct TCase {
        std::string Program;
        std::vector<std::string> Menus;
    } cases[] = {
        {"BackOffice",
         {"Lists / -", "Lists / Zumvo Reports", "Lists / Zumvo Held Funds", "Preferences / -",
          "Preferences / Zumvo Brand Settings"}},
        {"Invoicing",
         {"Lists / -", "Lists / Zumvo Reports", "Lists / Zumvo Held Funds", "Plugins / -",
          "Plugins / Zumvo Brand Settings"}},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(host.Folder / "transcript.txt");
        const auto run = Program(c.Program, config, {"--report", "today"});
        EXPECT_EQ(run.ExitCode(), 0) << run.Output;
        EXPECT_EQ(MenuLines(TranscriptLines()), c.Menus) << c.Program;
    }
}

TEST_F(MenuTest, AnotherProgramGetsTheReportEntryOnlyAndARefusedUserNoReport) {
    auto menus = pallux::MakeIntf<refhost::TMainMenuManager, refhost::TMainMenuManager>(host.Context);
    host.Container->RegisterInstance(pallux::IMainMenuManager::IID, menus.get());
    auto management = pallux::MakeIntf<TZumvoPaymentManagement>();
    pallux::IntfPtr<pallux::IEventManager> events;
    ASSERT_TRUE(host.Container->GetInstance(events));
    // This test program is neither BackOffice nor Invoicing.
    events->RaiseEvent("Pallux.BackOffice.MainForm.Create", "", 0);
    std::vector<std::string> added;
    for (const auto& e : menus->Entries())
        added.push_back(e.Menu + " / " + e.Caption);
    EXPECT_EQ(added,
              (std::vector<std::string>{"Lists / -", "Lists / Zumvo Reports", "Lists / Zumvo Held Funds"}));

    // A user whose group lacks AM012: the host's refusal, no form, no page.
    host.Context->Config.Write("Access", "User", "Clerk");
    host.Context->Config.Write("Users", "Clerk", "TILL");
    bool formOpened = false;
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "frmZumvoReports" && w->isVisible()) {
                formOpened = true;
                w->close();
            }
    });
    ASSERT_TRUE(menus->Click("Lists", "Zumvo Reports"));
    QApplication::processEvents();
    EXPECT_FALSE(formOpened);
    const auto lines = host.Context->Transcript.Lines();
    EXPECT_THAT(lines, ::testing::Contains("ACCESS: AM012 refused to Clerk"));
    EXPECT_THAT(lines,
                ::testing::Contains("MESSAGE: warning: Access denied: Clerk does not hold the access code "
                                    "AM012 (To View Zumvo Payment Transactions)."));
    EXPECT_THAT(lines, ::testing::Not(::testing::Contains(::testing::StartsWith("HTML: "))));

    // The same user in a group that holds the code gets the form.
    host.Context->Config.Write("Users", "Clerk", "FRCH");
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "frmZumvoReports" && w->isVisible()) {
                formOpened = true;
                w->close();
            }
    });
    ASSERT_TRUE(menus->Click("Lists", "Zumvo Reports"));
    EXPECT_TRUE(formOpened);
    host.Container->ReleaseInstance(pallux::IMainMenuManager::IID);
}
