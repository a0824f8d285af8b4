// TZumvoAPI: not available in this build yet; every operation logs that and returns its
// results as they stood.
#pragma once

#include "clsInterfacedObject.h"
#include "intfServiceFactory.h"
#include "intfZumvoAPI.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zumvo {

class TZumvoAPI : public pallux::TInterfacedObject<IZumvoAPI> {
public:
    using DefaultIntf = IZumvoAPI;
    void SetServer(const std::string&, const std::string&) override;
    void SetCredentials(const std::string&, const std::string&) override;
    void SetStore(std::int32_t, const std::string&) override;
    void Transaction(const std::string&, const std::string&, const std::string&, const std::string&,
                     const std::string&, std::int32_t, std::int32_t, const std::string&, const std::string&,
                     std::string& response) override;
    void Advice(const std::string&, const std::string&, const std::string&, const std::string&, std::int32_t,
                const std::string&, std::string& response) override;
};

class TZumvoAPIFactory : public pallux::TServiceFactory<TZumvoAPI, IZumvoAPI> {};

} // namespace zumvo
