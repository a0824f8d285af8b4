#include "FTillBrandSettings.h"

#include "ZumvoLog.h"
#include "clsModuleContainer.h"
#include "intfDisplayMessage.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace zumvo {

namespace {

constexpr int PanelWidth = 300;
constexpr int PanelHeight = 65;
constexpr int FirstLeft = 20;
constexpr int FirstTop = 50;

QString Numbered(const char* prefix, int tillsID) {
    return QString::fromUtf8(prefix) + QString::number(tillsID);
}

// Parses a list the service handed out; an unusable text gives an empty list.
TJSONDocument ListFrom(const std::string& text) {
    try {
        TJSONDocument doc = TJSONDocument::Parse(text);
        if (doc.IsArray())
            return doc;
    } catch (const EJSONError&) {
    }
    return TJSONDocument::NewArray();
}

} // namespace

TfrmTillBrandSettings::TfrmTillBrandSettings(QWidget* parent) : QDialog(parent) {
    setObjectName("frmTillBrandSettings");
    setWindowTitle("[PALLUX] Till Brand Settings");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(723, 592);
    setFont(QFont("MS Sans Serif", 8));

    btnRefresh = new QPushButton("Refresh", this);
    btnRefresh->setObjectName("btnRefresh");
    btnRefresh->setGeometry(480, 0, 75, 25);
    btnSave = new QPushButton("Save", this);
    btnSave->setObjectName("btnSave");
    btnSave->setGeometry(560, 0, 75, 25);
    setTabOrder(btnRefresh, btnSave);

    auto* heading = new QLabel("Select Brands for Each of the Tills", this);
    heading->setObjectName("lblHeading");
    heading->setFont(QFont("Tahoma", 18));
    heading->move(8, 8);
    heading->adjustSize();

    // An error must not unwind through the window system: it is logged.
    connect(btnRefresh, &QPushButton::clicked, this,
            [this] { Guarded("TfrmTillBrandSettings.btnRefreshClick", [this] { btnRefreshClick(); }); });
    connect(btnSave, &QPushButton::clicked, this,
            [this] { Guarded("TfrmTillBrandSettings.btnSaveClick", [this] { btnSaveClick(); }); });

    CreateService(FTillBrandSettings);
    Require(static_cast<bool>(FTillBrandSettings), "Could not create TillBrandSettings");
    FTillBrandSettings->Refresh();
    BuildTillPanels();
}

TfrmTillBrandSettings::~TfrmTillBrandSettings() = default;

void TfrmTillBrandSettings::BuildTillPanels() {
    std::string text;
    FTillBrandSettings->BrandListJSON(text);
    FBrands = ListFrom(text);
    FTillBrandSettings->TillsListJSON(text);
    FTills = ListFrom(text);

    int left = FirstLeft;
    int top = FirstTop;
    for (int i = 0; i < FTills._Count(); ++i) {
        const TJSONValue till = FTills[i];
        const int tillsID = till["TILLSID"].AsInteger();

        auto* panel = new QFrame(this);
        panel->setObjectName(Numbered("TillPanel_", tillsID));
        panel->setFrameShape(QFrame::StyledPanel);
        panel->setGeometry(left, top, PanelWidth, PanelHeight);

        auto* number = new QLabel(Numbered("TILL: ", tillsID), panel);
        number->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        number->setGeometry(217, 8, 78, 24);
        number->setFont(QFont("Tahoma", 18));

        auto* name = new QLabel(QString::fromStdString(till["TillName"].AsString("")), panel);
        name->setGeometry(5, 8, 81, 13);
        name->setFont(QFont("Tahoma", 8, QFont::Bold));

        auto* brands = new QComboBox(panel);
        brands->setObjectName(Numbered("BrandList_", tillsID));
        brands->setEditable(false);
        brands->setGeometry(5, 30, 145, 21);
        const TJSONValue current = till["BrandID"];
        int selected = -1;
        for (int b = 0; b < FBrands._Count(); ++b) {
            const TJSONValue brand = FBrands[b];
            const int brandID = brand["BrandID"].AsInteger();
            brands->addItem(QString::fromStdString(brand["Description"].AsString("")), brandID);
            if (!current.IsNull() && current.AsInteger(-1) == brandID && selected < 0)
                selected = b;
        }
        brands->setCurrentIndex(selected);
        panel->show();

        // A new column when one more panel would not fit below this one.
        if (height() < top + 2 * PanelHeight) {
            top = FirstTop;
            left += PanelWidth;
        } else {
            top += PanelHeight;
        }
    }
}

void TfrmTillBrandSettings::btnRefreshClick() {
    for (QFrame* panel : findChildren<QFrame*>(QString(), Qt::FindDirectChildrenOnly))
        if (panel->objectName().startsWith("TillPanel_", Qt::CaseInsensitive))
            delete panel;
    FTillBrandSettings->Refresh();
    BuildTillPanels();
}

void TfrmTillBrandSettings::btnSaveClick() {
    for (int i = 0; i < FTills._Count(); ++i) {
        const TJSONValue till = FTills[i];
        const int tillsID = till["TILLSID"].AsInteger();
        const auto* brands = findChild<QComboBox*>(Numbered("BrandList_", tillsID));
        if (!brands || brands->currentIndex() < 0)
            continue;
        const int chosen = brands->currentData().toInt();
        const int current = till["BrandID"].IsNull() ? -1 : till["BrandID"].AsInteger(-1);
        if (chosen == current)
            continue;
        LogInfo("[TfrmTillBrandSettings.btnSaveClick] Linking Till % to Brand %", tillsID, chosen);
        FTillBrandSettings->LinkBrandToTill(chosen, tillsID);
    }
    pallux::IntfPtr<pallux::IDisplayMessage> messages;
    CreateService(messages);
    Use(messages, "DisplayMessage")
        .ShowMessage(
            "Please restart Invoicing on any of the Tills that brand settings have been updated for.",
            pallux::mtInformation, pallux::mbOK);
    accept();
}

} // namespace zumvo
