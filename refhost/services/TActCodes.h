// The host's access codes: a registry over the host tables ActCodes and ActCodeGroups, and the
// check of the current user's rights.
#pragma once

#include "TDatabase.h"
#include "THostContext.h"
#include "clsInterfacedObject.h"
#include "intfActCodes.h"

#include <memory>

namespace refhost {

class TActCodeRegistry : public pallux::TInterfacedObject<pallux::IActCodeRegistry> {
public:
    explicit TActCodeRegistry(std::shared_ptr<TDatabase> db) : FDatabase(std::move(db)) {}

    // Adds the code, or updates its description, level and state.
    void PALLUX_CALL RegisterCode(const std::string& code, const std::string& description, std::int32_t level,
                                  std::int32_t enabled) override;
    void PALLUX_CALL UnregisterCode(const std::string& code) override;
    void PALLUX_CALL AssignCode(const std::string& code, const std::string& group) override;

private:
    std::shared_ptr<TDatabase> FDatabase;
};

// The current user is the host configuration's [Access] User (name) and UserID. The user's group
// is the user's entry in the [Users] section (name=group) when there is one, else [Access] Group
// (default FRCH). A code is granted when it is registered, enabled and assigned to the user's
// group, unless the configuration's [Access] Deny lists it (comma-separated); [Access] Grant
// lists codes granted whatever the tables say. A refusal with askIfDenied set shows the host's
// refusal message.
class TActCodeCheck : public pallux::TInterfacedObject<pallux::IActCodeCheck> {
public:
    TActCodeCheck(std::shared_ptr<THostContext> ctx, std::shared_ptr<TDatabase> db)
        : FContext(std::move(ctx)), FDatabase(std::move(db)) {}

    bool PALLUX_CALL CheckAccess(const std::string& code, std::string& userName, std::int32_t& userID,
                                 std::int32_t askIfDenied, std::int32_t flags) override;

    // The group of the configured user.
    std::string UserGroup() const;

private:
    std::shared_ptr<THostContext> FContext;
    std::shared_ptr<TDatabase> FDatabase;

    std::string CodeDescription(const std::string& code) const;
};

} // namespace refhost
