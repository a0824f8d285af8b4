// The host's access codes: the registry of codes and the check of the user's rights.
#pragma once

#include "intfBase.h"

#include <cstdint>
#include <string>

namespace pallux {

class IActCodeRegistry : public IInterface {
public:
    static constexpr TGUID IID{"{7336DF82-6458-4675-A561-03F09D1B3B6E}"};

    virtual void PALLUX_CALL RegisterCode(const std::string& code, const std::string& description,
                                          std::int32_t level, std::int32_t enabled) = 0;
    virtual void PALLUX_CALL UnregisterCode(const std::string& code) = 0;
    // Gives the code to a group of users.
    virtual void PALLUX_CALL AssignCode(const std::string& code, const std::string& group) = 0;
};

class IActCodeCheck : public IInterface {
public:
    static constexpr TGUID IID{"{9C707C66-FD71-4E82-AF41-2F51767A7D87}"};

    // True when the current user holds the code; userName and userID tell who was asked.
    virtual bool PALLUX_CALL CheckAccess(const std::string& code, std::string& userName, std::int32_t& userID,
                                         std::int32_t askIfDenied, std::int32_t flags) = 0;
};

} // namespace pallux
