// zumvo_host_example MODULE: loads a payment module as a host does, with the SDK's small
// container: InitModule, the services the module registered for the host (its payment methods,
// vouchers, printer add-ons and discounts, by name), FinalModule, unload. Exit code 0 when the
// module loaded, registered a payment method and withdrew every registration it made.
#include <clsSimpleContainer.h>
#include <intfDynamicDiscount.h>
#include <intfModuleEntry.h>
#include <intfPaymentMethod.h>
#include <intfPrinterAddon.h>
#include <intfVoucher.h>

#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

// The names registered for a host interface, as "a, b" ("-" for none).
std::string Names(pallux::IDIContainer& container, const pallux::TGUID& iid) {
    std::vector<std::string> names;
    container.GetFactoryNames(iid, names);
    std::string text;
    for (const auto& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text.empty() ? "-" : text;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("Usage: zumvo_host_example MODULE (e.g. /usr/lib/zumvo/libZumvoPayment.so)\n", stderr);
        return 2;
    }
#ifdef _WIN32
    HMODULE lib = LoadLibraryA(argv[1]);
    const auto symbol = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(lib, name)); };
#else
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    const auto symbol = [&](const char* name) { return dlsym(lib, name); };
#endif
    if (!lib) {
        std::fprintf(stderr, "cannot load %s\n", argv[1]);
        return 1;
    }
    const auto init = reinterpret_cast<pallux::TInitModuleProc>(symbol(pallux::InitModuleName));
    const auto final = reinterpret_cast<pallux::TFinalModuleProc>(symbol(pallux::FinalModuleName));
    if (!init || !final) {
        std::fprintf(stderr, "%s is not a module: no InitModule/FinalModule\n", argv[1]);
        return 1;
    }
    int result = 0;
    {
        // The host's container; a real host registers its own services (settings, database,
        // identity, ...) in it first, which the module's services look up.
        auto container = pallux::MakeIntf<pallux::TSimpleContainer, pallux::IDIContainer>();
        init(container.get());
        const std::string payments = Names(*container, pallux::IPaymentMethod::IID);
        std::printf("payment methods: %s\n", payments.c_str());
        std::printf("vouchers: %s\n", Names(*container, pallux::IVoucher::IID).c_str());
        std::printf("printer add-ons: %s\n", Names(*container, pallux::IPrinterAddon::IID).c_str());
        std::printf("discounts: %s\n", Names(*container, pallux::IDynamicDiscount::IID).c_str());
        final();
        if (payments == "-" || Names(*container, pallux::IPaymentMethod::IID) != "-") {
            std::fputs("the module did not register a payment method, or did not withdraw it\n", stderr);
            result = 1;
        }
    }
#ifdef _WIN32
    FreeLibrary(lib);
#else
    dlclose(lib);
#endif
    if (result == 0)
        std::puts("loaded, registered, withdrawn, unloaded");
    return result;
}
