#include "TDIContainer.h"

#include <algorithm>
#include <stdexcept>

namespace refhost {

std::string KindText(TRegistrationKind kind) {
    switch (kind) {
    case TRegistrationKind::Factory:
        return "factory";
    case TRegistrationKind::NamedFactory:
        return "named factory";
    case TRegistrationKind::Instance:
        return "instance";
    }
    return "?";
}

TDIContainer::~TDIContainer() {
    // Release in reverse order of registration; an object's destructor may still look
    // services up, so each one leaves the list before it is released.
    while (!FEntries.empty()) {
        IntfPtr<IInterface> last = std::move(FEntries.back().Object);
        FEntries.pop_back();
        last.reset();
    }
}

TDIContainer::TEntry* TDIContainer::Find(const TGUID& iid, TRegistrationKind kind, const std::string& name) {
    auto it = std::find_if(FEntries.begin(), FEntries.end(), [&](const TEntry& e) {
        return e.Reg.IID == iid && e.Reg.Kind == kind && e.Reg.Name == name;
    });
    return it == FEntries.end() ? nullptr : &*it;
}

void TDIContainer::Remove(const TGUID& iid, TRegistrationKind kind, const std::string& name) {
    auto it = std::find_if(FEntries.begin(), FEntries.end(), [&](const TEntry& e) {
        return e.Reg.IID == iid && e.Reg.Kind == kind && e.Reg.Name == name;
    });
    if (it == FEntries.end())
        return;
    // Released after leaving the list: the object's destructor may use the container.
    IntfPtr<IInterface> object = std::move(it->Object);
    FEntries.erase(it);
    object.reset();
}

void TDIContainer::Notify(const char* operation, const TGUID& iid, const std::string& name) {
    if (OnOperation)
        OnOperation(operation, iid, name);
}

void TDIContainer::RegisterInstance(const TGUID& iid, IInterface* instance) {
    if (!instance)
        throw std::invalid_argument("RegisterInstance: no instance for " + iid.ToString());
    IntfPtr<IInterface> held(instance);
    if (TEntry* e = Find(iid, TRegistrationKind::Instance)) {
        std::swap(e->Object, held); // the previous instance is released below
    } else {
        FEntries.push_back({{iid, {}, TRegistrationKind::Instance}, held});
        held.reset();
    }
    Notify("RegisterInstance", iid);
}

void TDIContainer::RegisterFactory(const TGUID& iid, pallux::IServiceFactory* factory) {
    if (!factory)
        throw std::invalid_argument("RegisterFactory: no factory for " + iid.ToString());
    IntfPtr<IInterface> held(factory);
    if (TEntry* e = Find(iid, TRegistrationKind::Factory))
        std::swap(e->Object, held);
    else
        FEntries.push_back({{iid, {}, TRegistrationKind::Factory}, std::move(held)});
    Notify("RegisterFactory", iid);
}

void TDIContainer::RegisterNamedFactory(const TGUID& iid, const std::string& name,
                                        pallux::IServiceFactory* factory) {
    if (!factory)
        throw std::invalid_argument("RegisterNamedFactory: no factory for " + iid.ToString() + " " + name);
    IntfPtr<IInterface> held(factory);
    if (TEntry* e = Find(iid, TRegistrationKind::NamedFactory, name))
        std::swap(e->Object, held);
    else
        FEntries.push_back({{iid, name, TRegistrationKind::NamedFactory}, std::move(held)});
    Notify("RegisterNamedFactory", iid, name);
}

void TDIContainer::ReleaseInstance(const TGUID& iid) {
    Remove(iid, TRegistrationKind::Instance);
    Notify("ReleaseInstance", iid);
}

void TDIContainer::UnregisterFactory(const TGUID& iid) {
    Remove(iid, TRegistrationKind::Factory);
    if (TEntry* e = Find(iid, TRegistrationKind::Instance); e && e->Singleton)
        Remove(iid, TRegistrationKind::Instance);
    Notify("UnregisterFactory", iid);
}

void TDIContainer::UnregisterNamedFactory(const TGUID& iid, const std::string& name) {
    Remove(iid, TRegistrationKind::NamedFactory, name);
    Notify("UnregisterNamedFactory", iid, name);
}

bool TDIContainer::GetInstance(const TGUID& iid, void** service) {
    *service = nullptr;
    TEntry* e = Find(iid, TRegistrationKind::Instance);
    return e && e->Object->QueryInterface(iid, service) == pallux::S_OK;
}

bool TDIContainer::Create(TEntry* factoryEntry, const TGUID& iid, void** service) {
    *service = nullptr;
    if (!factoryEntry)
        return false;
    // Keep the factory alive while it builds: the new object's constructor may use the
    // container, even unregister this very factory.
    IntfPtr<pallux::IServiceFactory> factory =
        IntfPtr<IInterface>(factoryEntry->Object).as<pallux::IServiceFactory>();
    if (!factory)
        return false;
    IntfPtr<IInterface> object;
    factory->CreateService(object);
    return object && object->QueryInterface(iid, service) == pallux::S_OK;
}

bool TDIContainer::CreateInstance(const TGUID& iid, void** service) {
    return Create(Find(iid, TRegistrationKind::Factory), iid, service);
}

bool TDIContainer::CreateNamedInstance(const TGUID& iid, const std::string& name, void** service) {
    return Create(Find(iid, TRegistrationKind::NamedFactory, name), iid, service);
}

bool TDIContainer::GetSingleton(const TGUID& iid, void** service) {
    if (GetInstance(iid, service))
        return true;
    IntfPtr<IInterface> object;
    if (!Create(Find(iid, TRegistrationKind::Factory), iid, object.put()))
        return false;
    // The constructor may itself have asked for the singleton (directly or through another
    // service); the first one held wins so that every caller shares one object.
    if (GetInstance(iid, service))
        return true;
    FEntries.push_back({{iid, {}, TRegistrationKind::Instance}, object, true});
    *service = IntfPtr<IInterface>(object).take();
    return true;
}

void TDIContainer::GetFactoryNames(const TGUID& iid, std::vector<std::string>& names) {
    names.clear();
    for (const auto& e : FEntries)
        if (e.Reg.IID == iid && e.Reg.Kind == TRegistrationKind::NamedFactory)
            names.push_back(e.Reg.Name);
}

std::vector<TRegistration> TDIContainer::Registrations() const {
    std::vector<TRegistration> out;
    out.reserve(FEntries.size());
    for (const auto& e : FEntries)
        out.push_back(e.Reg);
    return out;
}

} // namespace refhost
