// TSimpleContainer: a small, complete service container for a host that loads a module: the
// registrations a module makes in InitModule (instances, factories, named factories), its
// look-ups, and the withdrawals of FinalModule. A host with a container of its own implements
// IDIContainer itself; this one serves examples, tools and tests. Single-threaded, as the
// module's entry points are called on the host's main thread.
#pragma once

#include "clsInterfacedObject.h"
#include "intfBase.h"
#include "intfDI.h"
#include "intfServiceFactory.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace pallux {

class TSimpleContainer final : public TInterfacedObject<IDIContainer> {
public:
    // The host's own services are registered the same way, before InitModule.
    ~TSimpleContainer() {
        // Released in reverse order of registration; each leaves the list first, so that an
        // object's destructor that still looks services up finds only those registered before it.
        while (!FEntries.empty()) {
            TEntry last = std::move(FEntries.back());
            FEntries.pop_back();
        }
    }

    void PALLUX_CALL RegisterInstance(const TGUID& iid, IInterface* instance) override {
        Remove(iid, TKind::Instance, {});
        if (instance)
            FEntries.push_back({iid, TKind::Instance, {}, IntfPtr<IInterface>(instance), nullptr});
    }
    void PALLUX_CALL RegisterFactory(const TGUID& iid, IServiceFactory* factory) override {
        Remove(iid, TKind::Factory, {});
        if (factory)
            FEntries.push_back({iid, TKind::Factory, {}, nullptr, IntfPtr<IServiceFactory>(factory)});
    }
    void PALLUX_CALL RegisterNamedFactory(const TGUID& iid, const std::string& name,
                                          IServiceFactory* factory) override {
        Remove(iid, TKind::Named, name);
        if (factory)
            FEntries.push_back({iid, TKind::Named, name, nullptr, IntfPtr<IServiceFactory>(factory)});
    }
    void PALLUX_CALL ReleaseInstance(const TGUID& iid) override { Remove(iid, TKind::Instance, {}); }
    void PALLUX_CALL UnregisterFactory(const TGUID& iid) override { Remove(iid, TKind::Factory, {}); }
    void PALLUX_CALL UnregisterNamedFactory(const TGUID& iid, const std::string& name) override {
        Remove(iid, TKind::Named, name);
    }

    bool PALLUX_CALL GetInstance(const TGUID& iid, void** service) override {
        *service = nullptr;
        const TEntry* e = Find(iid, TKind::Instance, {});
        return e && e->Instance->QueryInterface(iid, service) == S_OK && *service;
    }
    bool PALLUX_CALL CreateInstance(const TGUID& iid, void** service) override {
        *service = nullptr;
        return Create(Find(iid, TKind::Factory, {}), iid, service);
    }
    bool PALLUX_CALL GetSingleton(const TGUID& iid, void** service) override {
        if (GetInstance(iid, service))
            return true;
        IntfPtr<IInterface> made;
        if (!Create(Find(iid, TKind::Factory, {}), iid, made.put()))
            return false;
        RegisterInstance(iid, made.get());
        return GetInstance(iid, service);
    }
    bool PALLUX_CALL CreateNamedInstance(const TGUID& iid, const std::string& name, void** service) override {
        *service = nullptr;
        return Create(Find(iid, TKind::Named, name), iid, service);
    }
    void PALLUX_CALL GetFactoryNames(const TGUID& iid, std::vector<std::string>& names) override {
        names.clear();
        for (const TEntry& e : FEntries)
            if (e.IID == iid && e.Kind == TKind::Named)
                names.push_back(e.Name);
    }

private:
    enum class TKind { Instance, Factory, Named };
    struct TEntry {
        TGUID IID;
        TKind Kind;
        std::string Name;
        IntfPtr<IInterface> Instance;
        IntfPtr<IServiceFactory> Factory;
    };
    std::vector<TEntry> FEntries;

    TEntry* Find(const TGUID& iid, TKind kind, const std::string& name) {
        const auto it = std::find_if(FEntries.begin(), FEntries.end(), [&](const TEntry& e) {
            return e.IID == iid && e.Kind == kind && e.Name == name;
        });
        return it == FEntries.end() ? nullptr : &*it;
    }
    void Remove(const TGUID& iid, TKind kind, const std::string& name) {
        const auto it = std::find_if(FEntries.begin(), FEntries.end(), [&](const TEntry& e) {
            return e.IID == iid && e.Kind == kind && e.Name == name;
        });
        if (it == FEntries.end())
            return;
        TEntry gone = std::move(*it); // released after it has left the list
        FEntries.erase(it);
    }
    // A new object of the factory, as the interface asked for (one reference to the caller).
    static bool Create(TEntry* entry, const TGUID& iid, void** service) {
        *service = nullptr;
        if (!entry || !entry->Factory)
            return false;
        IntfPtr<IServiceFactory> factory = entry->Factory; // kept while it runs
        IntfPtr<IInterface> made;
        factory->CreateService(made);
        return made && made->QueryInterface(iid, service) == S_OK && *service;
    }
};

} // namespace pallux
