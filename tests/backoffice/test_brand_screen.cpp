// The till brand screen driven as a user drives it (QTest under the offscreen platform), with
// the brand service simulator behind the till brand service.
#include "BackOfficeTestHost.h"
#include "FTillBrandSettings.h"

#include <QComboBox>
#include <QFrame>
#include <QPushButton>
#include <QTest>

using namespace zumvo;

namespace {

class BrandScreenTest : public test::BackOfficeTest {
protected:
    // The demo tills 1-3 (TILLSID 1-3); till 1 trades as Brand Two.
    void SetUp() override {
        BackOfficeTest::SetUp();
        host.Run("INSERT INTO [TillsBrand] ( TillID, BrandID ) VALUES ( 1, 2 )");
    }

    static QComboBox* Brands(QWidget& form, int tillsID) {
        return form.findChild<QComboBox*>("BrandList_" + QString::number(tillsID));
    }
    static std::vector<std::string> Items(QComboBox* box) {
        std::vector<std::string> items;
        for (int i = 0; i < box->count(); ++i)
            items.push_back(box->itemText(i).toStdString() + "=" + box->itemData(i).toString().toStdString());
        return items;
    }
    static QStringList PanelNames(QWidget& form) {
        QStringList names;
        for (auto* panel : form.findChildren<QFrame*>(QString(), Qt::FindDirectChildrenOnly))
            if (panel->objectName().startsWith("TillPanel_"))
                names << panel->objectName();
        names.sort();
        return names;
    }
    std::string Links() {
        return host.Rows("SELECT [TillID], [BrandID] FROM [TillsBrand] ORDER BY [TillID]").ToJSON();
    }
    std::size_t Messages() {
        const auto lines = host.Context->Transcript.Lines();
        return std::count(
            lines.begin(), lines.end(),
            "MESSAGE: information: Please restart Invoicing on any of the Tills that brand settings "
            "have been updated for.");
    }
};

} // namespace

TEST_F(BrandScreenTest, PanelsShowEachTillsBrandAndSaveWritesOnlyChangedSelections) {
    TfrmTillBrandSettings form;
    EXPECT_EQ(form.windowTitle().toStdString(), "[PALLUX] Till Brand Settings");
    EXPECT_EQ(PanelNames(form), (QStringList{"TillPanel_1", "TillPanel_2", "TillPanel_3"}));
    ASSERT_TRUE(Brands(form, 1) && Brands(form, 2) && Brands(form, 3));
    const std::vector<std::string> downloaded{"Brand One=1", "Brand Two=2",
                                              "<img src=x onerror=alert(1)></table>=3"};
    EXPECT_EQ(Items(Brands(form, 1)), downloaded);
    EXPECT_EQ(Brands(form, 1)->currentText().toStdString(), "Brand Two");
    EXPECT_EQ(Brands(form, 2)->currentIndex(), -1) << "a till without a brand shows no selection";
    form.show();
    form.grab().save(QString::fromStdString((ScreenshotFolder() / "brand_settings.png").string()));

    // Saving without a change writes nothing, still tells the user and closes with OK.
    const std::string before = Links();
    QTest::mouseClick(form.findChild<QPushButton*>("btnSave"), Qt::LeftButton);
    EXPECT_EQ(Links(), before);
    EXPECT_EQ(Messages(), 1u);
    EXPECT_EQ(form.result(), QDialog::Accepted);

    // Till 1's selection cleared (skipped, keeps its brand), till 2 left empty, till 3 chosen.
    TfrmTillBrandSettings again;
    again.show();
    Brands(again, 1)->setCurrentIndex(-1);
    QComboBox* till3 = Brands(again, 3);
    QTest::mouseClick(till3, Qt::LeftButton);
    till3->setCurrentIndex(till3->findText("Brand One"));
    QTest::mouseClick(again.findChild<QPushButton*>("btnSave"), Qt::LeftButton);
    EXPECT_EQ(Links(), R"([{"TillID":1,"BrandID":2},{"TillID":3,"BrandID":1}])");
    EXPECT_TRUE(log.Has("[TfrmTillBrandSettings.btnSaveClick] Linking Till 3 to Brand 1"));
    EXPECT_EQ(Messages(), 2u);
}

TEST_F(BrandScreenTest, ManyTillsFillAColumnWhileOneMoreFitsThenMoveRight) {
    for (int n = 4; n <= 20; ++n)
        host.Run("INSERT INTO [TILLS] ( [Computer Name], [TILLID] ) VALUES ( 'TILL-" + std::to_string(n) +
                 "', " + std::to_string(n) + " )");
    TfrmTillBrandSettings form;
    // 592 high: tops 50, 115, ..., 505 (eight panels), then the next column.
    const std::pair<int, QPoint> positions[] = {{1, {20, 50}},   {2, {20, 115}},   {8, {20, 505}},
                                                {9, {320, 50}},  {16, {320, 505}}, {17, {620, 50}},
                                                {20, {620, 245}}};
    for (const auto& [tillsID, at] : positions) {
        auto* panel = form.findChild<QFrame*>("TillPanel_" + QString::number(tillsID));
        ASSERT_TRUE(panel) << tillsID;
        EXPECT_EQ(panel->geometry(), QRect(at, QSize(300, 65))) << tillsID;
    }
}

TEST_F(BrandScreenTest, RefreshRebuildsThePanelsFromAFreshDownload) {
    TfrmTillBrandSettings form;
    ASSERT_EQ(PanelNames(form).size(), 3);
    brandSim.SetBrands(12, {{1, "BR1", "Brand One"}, {4, "NEW", "Brand Four"}});
    host.Run("INSERT INTO [TILLS] ( [Computer Name], [TILLID] ) VALUES ( 'TILL-9', 9 )");
    QTest::mouseClick(form.findChild<QPushButton*>("btnRefresh"), Qt::LeftButton);
    EXPECT_EQ(PanelNames(form), (QStringList{"TillPanel_1", "TillPanel_2", "TillPanel_3", "TillPanel_4"}));
    EXPECT_EQ(form.findChildren<QComboBox*>("BrandList_1").size(), 1) << "old panels are gone";
    // Brands the service no longer lists stay stored; the new one is added.
    EXPECT_EQ(Items(Brands(form, 4)),
              (std::vector<std::string>{"Brand One=1", "Brand Two=2",
                                        "<img src=x onerror=alert(1)></table>=3", "Brand Four=4"}));
}
