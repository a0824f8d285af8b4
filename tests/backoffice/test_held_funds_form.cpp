// The back office's held-funds form as a person uses it: it opens straight to its list (the page
// only on request), and its columns are sized to their contents with "Needs" in view at the
// form's size. Writes a screenshot of the form to build/screenshots/.
#include "BackOfficeTestHost.h"
#include "FZumvoHeldFunds.h"

#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>

using namespace zumvo;

namespace {

class HeldFundsFormTest : public test::BackOfficeTest {
protected:
    // Lines the host's HTML viewer wrote since the test began (one per page shown).
    int PagesShown() const {
        int pages = 0;
        for (const auto& line : host.Context->Transcript.Lines())
            pages += line.rfind("HTML: ", 0) == 0;
        return pages;
    }
    // A settled code whose finalise failed, its last attempt's error given.
    void FailedFinalise(std::int32_t till, double amount, const std::string& error) {
        const std::int32_t basket =
            Sale(till, 0, {{TTransactionStatus::FinaliseFailed, amount}}, "2026-03-10 10:00:00");
        const TJSONDocument rows = host.Rows(
            "SELECT [ID] FROM [ZumvoPaymentTransactions] WHERE [BasketID] = " + std::to_string(basket));
        store->RecordAdviceAttempt(rows[0]["ID"].AsInteger(), error);
    }
};

} // namespace

TEST_F(HeldFundsFormTest, OpensToItsListWithEveryColumnReadableAndThePageOnRequest) {
    FailedFinalise(1, 12.35,
                   "No answer from http://vouchers.example.com/pos/services/PosService: "
                   "Connection timed out after 3001 milliseconds, then refused twice");
    FailedFinalise(2, 0.05, "refused: 99");
    TfrmZumvoHeldFunds form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    auto* grid = form.findChild<QTableWidget*>("grdHeldFunds");
    ASSERT_NE(grid, nullptr);
    ASSERT_EQ(grid->rowCount(), 2);
    EXPECT_EQ(PagesShown(), 0) << "the form opens to its list, no page before it";

    QTest::mouseClick(form.findChild<QPushButton*>("btnRefresh"), Qt::LeftButton);
    EXPECT_EQ(grid->rowCount(), 2);
    EXPECT_EQ(PagesShown(), 0) << "a refresh shows no page either";

    // Every column within the grid's width: no horizontal scrolling, "Needs" whole and last.
    const QHeaderView& header = *grid->horizontalHeader();
    const int needs = grid->columnCount() - 1;
    EXPECT_EQ(grid->horizontalHeaderItem(needs)->text(), "Needs");
    EXPECT_FALSE(grid->horizontalScrollBar()->isVisible());
    EXPECT_LE(header.sectionViewportPosition(needs) + header.sectionSize(needs), grid->viewport()->width());
    const QFontMetrics metrics(grid->font());
    for (int r = 0; r < grid->rowCount(); ++r) {
        const QString text = grid->item(r, needs)->text();
        ASSERT_FALSE(text.isEmpty());
        EXPECT_GE(header.sectionSize(needs), metrics.horizontalAdvance(text)) << text.toStdString();
    }
    // Narrow numbers take their own width, not an equal share.
    for (const int c : {0, 1, 3, 9})
        EXPECT_LT(header.sectionSize(c), header.sectionSize(needs))
            << grid->horizontalHeaderItem(c)->text().toStdString();
    // A column that gave up width keeps its whole text in the cell's tool tip.
    EXPECT_EQ(grid->item(0, 11)->toolTip(), grid->item(0, 11)->text());

    const auto shot = ScreenshotFolder() / "held_funds_form.png";
    ASSERT_TRUE(form.grab().save(QString::fromStdString(shot.string())));
    std::cout << "Screenshot: " << shot.string() << "\n";

    QTest::mouseClick(form.findChild<QPushButton*>("btnPage"), Qt::LeftButton);
    EXPECT_EQ(PagesShown(), 1) << "the page on request";
}
