// Library entry of the Zumvo payment module: log set-up at load, registration of the module's
// services in the host's container, and their withdrawal.
#include "ZumvoPayment.h"

#include "ZumvoLog.h"
#include "ZumvoPlatform.h"
#include "ZumvoVersion.h"
#include "clsModuleContainer.h"
#include "clsSysUtils.h"
#include "implCurrentBasket.h"
#include "implDataChangesZumvo.h"
#include "implDiscountZumvo.h"
#include "implPaymentMethodZumvo.h"
#include "implPrinterAddonZumvo.h"
#include "implTillBrandSettings.h"
#include "implVoucherZumvo.h"
#include "implZumvoAPI.h"
#include "implZumvoInfo.h"
#include "implZumvoLogic.h"
#include "implZumvoManagement.h"
#include "implZumvoTransaction.h"

using namespace zumvo;
using pallux::IntfPtr;
using pallux::MakeIntf;

namespace {

template <class Factory> IntfPtr<pallux::IServiceFactory> NewFactory() {
    return MakeIntf<Factory, pallux::IServiceFactory>();
}

} // namespace

namespace zumvo {

// Library load code: the module's one log, then its first line.
void ModuleLoaded() {
    TLogSettings settings = ModuleLogSettings(ModuleFilePath());
    settings.FallbackFolders = LogFallbackFolders();
    settings.Version = ZUMVO_VERSION;
    ConfigureLog(settings);
    LogInfo("Starting Zumvo Payment");
    LogInfo("Zumvo Payment version " ZUMVO_VERSION);
}

// An explicit unload without FinalModule withdraws every registration; the end of the process
// does not.
void ModuleUnloading(bool processEnding) {
    if (!processEnding)
        FinalModule();
    ShutdownLog();
}

} // namespace zumvo

void PALLUX_CALL InitModule(pallux::IDIContainer* container) {
    auto& held = ModuleContainer();
    held = IntfPtr<pallux::IDIContainer>(container);

    container->RegisterFactory(ITillBrandSettings::IID, NewFactory<TTillBrandSettingsFactory>().get());
    container->RegisterFactory(IZumvoAPI::IID, NewFactory<TZumvoAPIFactory>().get());
    container->RegisterNamedFactory(pallux::IDatabaseChanges::IID, "Zumvo",
                                    NewFactory<TDatabaseChangesZumvoFactory>().get());
    container->RegisterFactory(IZumvoInfo::IID, NewFactory<TZumvoInfoFactory>().get());
    {
        // Builds the identity now; the container keeps it for the module's lifetime.
        IntfPtr<IZumvoInfo> info;
        container->GetSingleton(info);
    }
    container->RegisterFactory(IZumvoTransaction::IID, NewFactory<TZumvoTransactionFactory>().get());
    container->RegisterFactory(ICurrentBasket::IID, NewFactory<TCurrentBasketFactory>().get());
    container->RegisterFactory(IZumvoLogic::IID, NewFactory<TZumvoLogicFactory>().get());
    container->RegisterFactory(IZumvoManagement::IID, NewFactory<TZumvoPaymentManagementFactory>().get());
    container->RegisterInstance(IZumvoManagement::IID, MakeIntf<TZumvoPaymentManagement>().get());
    container->RegisterNamedFactory(pallux::IPrinterAddon::IID, "Zumvo",
                                    NewFactory<TPrinterAddonZumvoFactory>().get());
    container->RegisterNamedFactory(pallux::IPaymentMethod::IID, "Zumvo",
                                    NewFactory<TPaymentMethodZumvoFactory>().get());
    container->RegisterNamedFactory(pallux::IVoucher::IID, "Zumvo", NewFactory<TVoucherZumvoFactory>().get());
    container->RegisterNamedFactory(pallux::IDynamicDiscount::IID, "ZumvoDiscount",
                                    NewFactory<TZumvoDynamicDiscountFactory>().get());
}

void PALLUX_CALL FinalModule() {
    auto& held = ModuleContainer();
    if (!held)
        return;
    // Every withdrawal is made even when one before it fails: a registration left behind would
    // point into code the host is about to unload. Each failure is logged on its own.
    auto& c = *held;
    const auto withdraw = [&](auto&& step) { Guarded("FinalModule", step); };
    withdraw([&] { c.UnregisterNamedFactory(pallux::IVoucher::IID, "Zumvo"); });
    withdraw([&] { c.UnregisterNamedFactory(pallux::IPaymentMethod::IID, "Zumvo"); });
    withdraw([&] { c.UnregisterNamedFactory(pallux::IDynamicDiscount::IID, "ZumvoDiscount"); });
    withdraw([&] { c.UnregisterNamedFactory(pallux::IPrinterAddon::IID, "Zumvo"); });
    withdraw([&] { c.ReleaseInstance(IZumvoManagement::IID); });
    withdraw([&] { c.UnregisterFactory(IZumvoManagement::IID); });
    withdraw([&] { c.UnregisterFactory(IZumvoLogic::IID); });
    // The current basket is a singleton: released first, so that no host keeps it (and its event
    // handlers) past the unload of its code.
    withdraw([&] { c.ReleaseInstance(ICurrentBasket::IID); });
    withdraw([&] { c.UnregisterFactory(ICurrentBasket::IID); });
    withdraw([&] { c.UnregisterFactory(IZumvoTransaction::IID); });
    withdraw([&] { c.ReleaseInstance(IZumvoInfo::IID); });
    withdraw([&] { c.UnregisterFactory(IZumvoInfo::IID); });
    withdraw([&] { c.UnregisterNamedFactory(pallux::IDatabaseChanges::IID, "Zumvo"); });
    withdraw([&] { c.UnregisterFactory(IZumvoAPI::IID); });
    withdraw([&] { c.UnregisterFactory(ITillBrandSettings::IID); });
    held.reset();
}
