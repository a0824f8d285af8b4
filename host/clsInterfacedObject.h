// The reference-counted base object of every service and factory.
#pragma once

#include "intfBase.h"

#include <atomic>
#include <concepts>
#include <memory>
#include <tuple>
#include <type_traits>

namespace pallux {

// Implements the reference-counting operations for the interfaces listed as template
// arguments. A new object starts with one reference, which MakeIntf adopts, so a constructor
// may hand out its own interface without the object being freed under it.
template <class... Intfs> class TInterfacedObject : public Intfs... {
    static_assert(sizeof...(Intfs) > 0, "TInterfacedObject needs at least one interface");
    static_assert((std::derived_from<Intfs, IInterface> && ...),
                  "every type listed in TInterfacedObject must derive from IInterface");
    using FirstIntf = std::tuple_element_t<0, std::tuple<Intfs...>>;

public:
    // The interface MakeIntf answers by default: the first one listed.
    using DefaultIntf = FirstIntf;

    TInterfacedObject() = default;
    TInterfacedObject(const TInterfacedObject&) = delete;
    TInterfacedObject& operator=(const TInterfacedObject&) = delete;
    virtual ~TInterfacedObject() = default;

    HResult PALLUX_CALL QueryInterface(const TGUID& iid, void** obj) override {
        if (!obj)
            return E_NOINTERFACE;
        *obj = nullptr;
        if (iid == IInterface::IID)
            *obj = static_cast<IInterface*>(static_cast<FirstIntf*>(this));
        else
            MatchListedInterface(iid, obj);
        if (!*obj)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    std::int32_t PALLUX_CALL AddRef() override { return ++FRefCount; }
    std::int32_t PALLUX_CALL Release() override {
        const std::int32_t count = --FRefCount;
        if (count == 0)
            delete this;
        return count;
    }
    std::int32_t RefCount() const { return FRefCount; }

private:
    // Points *obj at the first listed interface whose IID is iid; leaves it null otherwise.
    void MatchListedInterface(const TGUID& iid, void** obj) {
        (void)((iid == Intfs::IID ? (*obj = static_cast<Intfs*>(this), true) : false) || ...);
    }

    std::atomic<std::int32_t> FRefCount{1};
};

// Builds an object and returns it as interface I, owning the object's first reference.
template <class T, class I = typename T::DefaultIntf, class... Args> IntfPtr<I> MakeIntf(Args&&... args) {
    T* obj = new T(std::forward<Args>(args)...);
    return IntfPtr<I>::adopt(static_cast<I*>(obj));
}

} // namespace pallux
