// The reference host's service container.
#pragma once

#include "intfDI.h"

#include <functional>
#include <string>
#include <vector>

namespace refhost {

using pallux::IInterface;
using pallux::IntfPtr;
using pallux::TGUID;

enum class TRegistrationKind { Factory, NamedFactory, Instance };

// One registration as the container lists it.
struct TRegistration {
    TGUID IID;
    std::string Name; // empty for unnamed registrations
    TRegistrationKind Kind;
};

std::string KindText(TRegistrationKind kind);

// Factories by GUID (and name), instances by GUID. A singleton is created by the GUID's factory
// on its first request and held as the GUID's instance until ReleaseInstance, or until its
// factory is unregistered: the object's code belongs to whoever registered the factory, which
// may be about to unload.
class TDIContainer : public pallux::TInterfacedObject<pallux::IDIContainer> {
public:

    void PALLUX_CALL RegisterInstance(const TGUID& iid, IInterface* instance) override;
    void PALLUX_CALL RegisterFactory(const TGUID& iid, pallux::IServiceFactory* factory) override;
    void PALLUX_CALL RegisterNamedFactory(const TGUID& iid, const std::string& name,
                                          pallux::IServiceFactory* factory) override;
    void PALLUX_CALL ReleaseInstance(const TGUID& iid) override;
    void PALLUX_CALL UnregisterFactory(const TGUID& iid) override;
    void PALLUX_CALL UnregisterNamedFactory(const TGUID& iid, const std::string& name) override;
    bool PALLUX_CALL GetInstance(const TGUID& iid, void** service) override;
    bool PALLUX_CALL CreateInstance(const TGUID& iid, void** service) override;
    bool PALLUX_CALL GetSingleton(const TGUID& iid, void** service) override;
    bool PALLUX_CALL CreateNamedInstance(const TGUID& iid, const std::string& name, void** service) override;
    void PALLUX_CALL GetFactoryNames(const TGUID& iid, std::vector<std::string>& names) override;

    using pallux::IDIContainer::CreateInstance;
    using pallux::IDIContainer::CreateNamedInstance;
    using pallux::IDIContainer::GetInstance;
    using pallux::IDIContainer::GetSingleton;

    // The current registrations, in the order they were made.
    std::vector<TRegistration> Registrations() const;

    // Called after every container operation with its name, GUID and name argument (tests and
    // the host's trace use it).
    std::function<void(const std::string& operation, const TGUID& iid, const std::string& name)> OnOperation;

    ~TDIContainer() override;

private:
    struct TEntry {
        TRegistration Reg;
        IntfPtr<IInterface> Object; // the factory or the instance
        bool Singleton = false;     // an instance the GUID's factory built for GetSingleton
    };
    std::vector<TEntry> FEntries;

    TEntry* Find(const TGUID& iid, TRegistrationKind kind, const std::string& name = {});
    static bool Create(TEntry* factoryEntry, const TGUID& iid, void** service);
    void Remove(const TGUID& iid, TRegistrationKind kind, const std::string& name = {});
    void Notify(const char* operation, const TGUID& iid, const std::string& name = {});
};

} // namespace refhost
