// The host's service container, handed to the module by InitModule.
#pragma once

#include "intfBase.h"
#include "intfServiceFactory.h"

#include <string>
#include <vector>

namespace pallux {

class IDIContainer : public IInterface {
public:
    static constexpr TGUID IID{"{6F1D3C2A-52B4-4B8E-9E0B-2D7C41A5E310}"};

    // The container holds the object for the GUID until ReleaseInstance.
    virtual void PALLUX_CALL RegisterInstance(const TGUID& iid, IInterface* instance) = 0;
    virtual void PALLUX_CALL RegisterFactory(const TGUID& iid, IServiceFactory* factory) = 0;
    // One of several providers of a host interface, told apart by name.
    virtual void PALLUX_CALL RegisterNamedFactory(const TGUID& iid, const std::string& name,
                                                  IServiceFactory* factory) = 0;
    virtual void PALLUX_CALL ReleaseInstance(const TGUID& iid) = 0;
    virtual void PALLUX_CALL UnregisterFactory(const TGUID& iid) = 0;
    virtual void PALLUX_CALL UnregisterNamedFactory(const TGUID& iid, const std::string& name) = 0;
    // The instance registered for the GUID; false if none.
    virtual bool PALLUX_CALL GetInstance(const TGUID& iid, void** service) = 0;
    // A new object from the GUID's factory; false if there is no factory.
    virtual bool PALLUX_CALL CreateInstance(const TGUID& iid, void** service) = 0;
    // The one shared object of the GUID, created by its factory on the first request and
    // returned again until ReleaseInstance.
    virtual bool PALLUX_CALL GetSingleton(const TGUID& iid, void** service) = 0;

    // Host side: a new object from the named factory of a host interface.
    virtual bool PALLUX_CALL CreateNamedInstance(const TGUID& iid, const std::string& name,
                                                 void** service) = 0;
    // Host side: the names registered for a host interface, in registration order.
    virtual void PALLUX_CALL GetFactoryNames(const TGUID& iid, std::vector<std::string>& names) = 0;

    // Typed helpers (not part of the interface's slots).
    template <class T> bool GetInstance(IntfPtr<T>& out) { return GetInstance(T::IID, out.put()); }
    template <class T> bool CreateInstance(IntfPtr<T>& out) { return CreateInstance(T::IID, out.put()); }
    template <class T> bool GetSingleton(IntfPtr<T>& out) { return GetSingleton(T::IID, out.put()); }
    template <class T> bool CreateNamedInstance(const std::string& name, IntfPtr<T>& out) {
        return CreateNamedInstance(T::IID, name, out.put());
    }
};

} // namespace pallux
