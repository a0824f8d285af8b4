// TfrmTillBrandSettings: links each till of the store to one brand. One panel per till
// ("TillPanel_<TILLSID>") with a drop-down of the brands ("BrandList_<TILLSID>"); Save writes the
// changed links through the till brand service.
#pragma once

#include "JsonDocument.h"
#include "intfTillBrandSettings.h"

#include <QDialog>

class QPushButton;

namespace zumvo {

class TfrmTillBrandSettings : public QDialog {
public:
    // FormCreate: obtains the till brand service, refreshes it and builds the till panels.
    // Raises "Could not create TillBrandSettings" when the container has none.
    explicit TfrmTillBrandSettings(QWidget* parent = nullptr);
    ~TfrmTillBrandSettings() override;

    // Removes every till panel, refreshes the service and builds the panels again.
    void btnRefreshClick();
    // Links every till whose selected brand differs from its stored one, tells the user to
    // restart the changed tills and closes with the OK result. Tills without a selection are
    // skipped.
    void btnSaveClick();

private:
    pallux::IntfPtr<ITillBrandSettings> FTillBrandSettings;
    TJSONDocument FBrands = TJSONDocument::NewArray();
    TJSONDocument FTills = TJSONDocument::NewArray();
    QPushButton* btnRefresh;
    QPushButton* btnSave;

    void BuildTillPanels();
};

} // namespace zumvo
