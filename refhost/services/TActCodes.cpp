#include "TActCodes.h"

#include "TDBScript.h"
#include "THostServices.h"

#include <sstream>

namespace refhost {

namespace {

// Whether a comma-separated list holds the code (blanks around items ignored).
bool InList(const std::string& list, const std::string& code) {
    std::istringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) {
        const auto first = item.find_first_not_of(' ');
        if (first != std::string::npos && item.substr(first, item.find_last_not_of(' ') - first + 1) == code)
            return true;
    }
    return false;
}

} // namespace

void TActCodeRegistry::RegisterCode(const std::string& code, const std::string& description,
                                    std::int32_t level, std::int32_t enabled) {
    FDatabase->RunBatch(
        FormatSql("IF NOT EXISTS ( SELECT 1 FROM [ActCodes] WHERE [Code] = %s ) "
                  "INSERT INTO [ActCodes] ( [Code], [Description], [Level], [Enabled] ) "
                  "VALUES ( %s, %s, %d, %d ) "
                  "ELSE UPDATE [ActCodes] SET [Description] = %s, [Level] = %d, [Enabled] = %d "
                  "WHERE [Code] = %s",
                  {pallux::QuotedStr(code), pallux::QuotedStr(code), pallux::QuotedStr(description),
                   std::int64_t{level}, std::int64_t{enabled}, pallux::QuotedStr(description),
                   std::int64_t{level}, std::int64_t{enabled}, pallux::QuotedStr(code)}));
}

void TActCodeRegistry::UnregisterCode(const std::string& code) {
    FDatabase->RunBatch(
        FormatSql("DELETE FROM [ActCodeGroups] WHERE [Code] = %s; DELETE FROM [ActCodes] WHERE [Code] = %s",
                  {pallux::QuotedStr(code), pallux::QuotedStr(code)}));
}

void TActCodeRegistry::AssignCode(const std::string& code, const std::string& group) {
    FDatabase->RunBatch(
        FormatSql("IF NOT EXISTS ( SELECT 1 FROM [ActCodeGroups] WHERE [Code] = %s AND [GroupName] = %s ) "
                  "INSERT INTO [ActCodeGroups] ( [Code], [GroupName] ) VALUES ( %s, %s )",
                  {pallux::QuotedStr(code), pallux::QuotedStr(group), pallux::QuotedStr(code),
                   pallux::QuotedStr(group)}));
}

std::string TActCodeCheck::UserGroup() const {
    const auto& cfg = FContext->Config;
    const std::string user = cfg.ReadString("Access", "User", "Cashier");
    const std::string listed = cfg.ReadString("Users", user);
    return listed.empty() ? cfg.ReadString("Access", "Group", "FRCH") : listed;
}

std::string TActCodeCheck::CodeDescription(const std::string& code) const {
    const auto result = FDatabase->RunBatch(
        FormatSql("SELECT [Description] FROM [ActCodes] WHERE [Code] = %s", {pallux::QuotedStr(code)}));
    if (result.ResultSets.empty() || result.ResultSets[0].Rows.empty())
        return {};
    return result.ResultSets[0].Rows[0][0].AsText();
}

bool TActCodeCheck::CheckAccess(const std::string& code, std::string& userName, std::int32_t& userID,
                                std::int32_t askIfDenied, std::int32_t) {
    const auto& cfg = FContext->Config;
    userName = cfg.ReadString("Access", "User", "Cashier");
    userID = cfg.ReadInteger("Access", "UserID", 1);
    bool granted = false;
    if (InList(cfg.ReadString("Access", "Deny"), code)) {
        granted = false;
    } else if (InList(cfg.ReadString("Access", "Grant"), code)) {
        granted = true;
    } else {
        const auto result = FDatabase->RunBatch(FormatSql(
            "SELECT COUNT(*) AS [N] FROM [ActCodes] C INNER JOIN [ActCodeGroups] G ON G.[Code] = C.[Code] "
            "WHERE C.[Code] = %s AND C.[Enabled] = 1 AND G.[GroupName] = %s",
            {pallux::QuotedStr(code), pallux::QuotedStr(UserGroup())}));
        granted = !result.ResultSets.empty() && !result.ResultSets[0].Rows.empty() &&
                  result.ResultSets[0].Rows[0][0].Int > 0;
    }
    FContext->Transcript.Write("ACCESS", code + (granted ? " granted to " : " refused to ") + userName);
    if (!granted && askIfDenied != 0) {
        const std::string description = CodeDescription(code);
        pallux::MakeIntf<TDisplayMessage>(FContext)->ShowMessage(
            "Access denied: " + userName + " does not hold the access code " + code +
                (description.empty() ? std::string() : " (" + description + ")") + ".",
            pallux::mtWarning, pallux::mbOK);
    }
    return granted;
}

} // namespace refhost
