// The factory through which the container builds service objects.
#pragma once

#include "clsInterfacedObject.h"
#include "intfBase.h"

namespace pallux {

class IServiceFactory : public IInterface {
public:
    static constexpr TGUID IID{"{5C0E8EF1-24C4-4E5E-89D8-CB1B423A164C}"};
    // Builds a new service object and returns its interface with one reference.
    virtual void PALLUX_CALL CreateService(IntfPtr<IInterface>& instance) = 0;
};

// A stateless factory for service class T, handing the object out as interface I.
template <class T, class I> class TServiceFactory : public TInterfacedObject<IServiceFactory> {
public:
    void PALLUX_CALL CreateService(IntfPtr<IInterface>& instance) override {
        IntfPtr<I> service = MakeIntf<T, I>();
        instance = IntfPtr<IInterface>(static_cast<IInterface*>(service.get()));
    }
};

} // namespace pallux
