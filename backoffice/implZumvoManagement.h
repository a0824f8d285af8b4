// TZumvoPaymentManagement: adds the module's entries to the host programs' main menus when a
// main form is created. Built once by InitModule and held by the container.
#pragma once

#include "clsInterfacedObject.h"
#include "intfEventManager.h"
#include "intfServiceFactory.h"
#include "intfZumvoManagement.h"

#include <string>

namespace zumvo {

class TZumvoPaymentManagement : public pallux::TInterfacedObject<IZumvoManagement> {
public:
    TZumvoPaymentManagement();

    void Event_MainFormCreate(const std::string& eventName, const std::string& data, std::int64_t param);
    void ReportClick();
    // The held-funds list, behind access code AM012 like the report.
    void HeldFundsClick();
    void BrandSettingsClick();

private:
    pallux::TEventSubscriberToken FEvents;
};

class TZumvoPaymentManagementFactory
    : public pallux::TServiceFactory<TZumvoPaymentManagement, IZumvoManagement> {};

// The running program's file name without folder (and without a Windows ".exe").
std::string ProgramName();

} // namespace zumvo
