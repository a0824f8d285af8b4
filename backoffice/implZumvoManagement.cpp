#include "implZumvoManagement.h"

#include "FTillBrandSettings.h"
#include "FZumvoHeldFunds.h"
#include "FZumvoReports.h"
#include "ZumvoLog.h"
#include "ZumvoPlatform.h"
#include "clsModuleContainer.h"
#include "clsSysUtils.h"
#include "intfActCodes.h"
#include "intfMainMenuManager.h"

#include <filesystem>

namespace zumvo {

std::string ProgramName() {
    std::string name = pallux::PathToUtf8(HostProgramFile().filename());
    if (name.size() > 4 && pallux::SameText(std::string_view(name).substr(name.size() - 4), ".exe"))
        name.resize(name.size() - 4);
    return name;
}

TZumvoPaymentManagement::TZumvoPaymentManagement() {
    pallux::IntfPtr<pallux::IEventManager> events;
    if (!GetInstanceService(events))
        return;
    const auto handler = FEvents.Bind<&TZumvoPaymentManagement::Event_MainFormCreate>(this);
    events->Subscribe(pallux::HostEvent::InvoicingMainFormCreate, handler);
    events->Subscribe(pallux::HostEvent::BackOfficeMainFormCreate, handler);
}

void TZumvoPaymentManagement::Event_MainFormCreate(const std::string& eventName, const std::string&,
                                                   std::int64_t) {
    pallux::IntfPtr<pallux::IMainMenuManager> menus;
    if (!GetInstanceService(menus))
        return;
    const auto addEntry = [&](const std::string& menu, const std::string& caption,
                              const pallux::TNotifyHandler& action) {
        menus->AddMenuItem(menu, "-", {}, -1);
        menus->AddMenuItem(menu, caption, action, -1);
    };
    const auto report = pallux::TNotifyHandler::Bind<&TZumvoPaymentManagement::ReportClick>(FEvents, this);
    const auto brandSettings =
        pallux::TNotifyHandler::Bind<&TZumvoPaymentManagement::BrandSettingsClick>(FEvents, this);
    addEntry("Lists", "Zumvo Reports", report);
    // Beside the report, under the same separator.
    menus->AddMenuItem("Lists", "Zumvo Held Funds",
                       pallux::TNotifyHandler::Bind<&TZumvoPaymentManagement::HeldFundsClick>(FEvents, this),
                       -1);
    const std::string program = ProgramName();
    if (pallux::SameText(program, "BackOffice")) {
        if (eventName == pallux::HostEvent::BackOfficeMainFormCreate)
            addEntry("Preferences", "Zumvo Brand Settings", brandSettings);
    } else if (pallux::SameText(program, "Invoicing") &&
               eventName == pallux::HostEvent::InvoicingMainFormCreate) {
        addEntry("Plugins", "Zumvo Brand Settings", brandSettings);
    }
}

namespace {

// Whether the current user holds the access code; the host tells a refused user why.
bool UserMay(const char* code) {
    pallux::IntfPtr<pallux::IActCodeCheck> access;
    if (!CreateService(access) || !access)
        return false;
    std::string userName;
    std::int32_t userID = 0;
    return access->CheckAccess(code, userName, userID, 1, 0);
}

} // namespace

// The actions are called from the host's menus: an error is logged rather than thrown across.
void TZumvoPaymentManagement::ReportClick() {
    Guarded("TZumvoPaymentManagement.ReportClick", [] {
        if (!UserMay("AM012"))
            return;
        TfrmZumvoReports form;
        form.exec();
    });
}

void TZumvoPaymentManagement::HeldFundsClick() {
    Guarded("TZumvoPaymentManagement.HeldFundsClick", [] {
        if (!UserMay("AM012"))
            return;
        TfrmZumvoHeldFunds form;
        form.exec();
    });
}

void TZumvoPaymentManagement::BrandSettingsClick() {
    Guarded("TZumvoPaymentManagement.BrandSettingsClick", [] {
        TfrmTillBrandSettings form;
        form.exec();
    });
}

} // namespace zumvo
