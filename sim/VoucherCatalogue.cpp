#include "VoucherCatalogue.h"
#include "clsRapidJson.h"

#include "SimServer.h"

#include <rapidjson/error/en.h>

#include <set>
#include <stdexcept>

namespace sim {

namespace {

constexpr std::pair<TCodeKind, const char*> KindNames[] = {
    {TCodeKind::Payment, "payment"}, {TCodeKind::Discount, "discount"}, {TCodeKind::Split, "split"},
    {TCodeKind::Loyalty, "loyalty"}, {TCodeKind::Refused, "refused"},   {TCodeKind::Expired, "expired"},
};

class TEntryReader {
public:
    TEntryReader(const rapidjson::Value& entry, std::string where)
        : FEntry(entry), FWhere(std::move(where)) {}

    [[noreturn]] void Fail(const std::string& message) const {
        throw std::invalid_argument(FWhere + ": " + message);
    }
    const rapidjson::Value* Find(const char* name) const {
        auto it = FEntry.FindMember(name);
        return it == FEntry.MemberEnd() ? nullptr : &it->value;
    }
    std::optional<std::string> String(const char* name) const {
        const rapidjson::Value* v = Find(name);
        if (!v)
            return std::nullopt;
        if (!v->IsString())
            Fail(std::string("'") + name + "' must be a string");
        return std::string(v->GetString(), v->GetStringLength());
    }
    // A text member that may also be written as a number ("earned": 12).
    std::string Text(const char* name) const {
        const rapidjson::Value* v = Find(name);
        if (!v)
            return {};
        if (v->IsInt64())
            return std::to_string(v->GetInt64());
        if (!v->IsString())
            Fail(std::string("'") + name + "' must be a string");
        return std::string(v->GetString(), v->GetStringLength());
    }
    std::optional<std::int64_t> Integer(const char* name, std::int64_t min, std::int64_t max) const {
        const rapidjson::Value* v = Find(name);
        if (!v)
            return std::nullopt;
        if (!v->IsInt64() || v->GetInt64() < min || v->GetInt64() > max)
            Fail(std::string("'") + name + "' must be a whole number from " + std::to_string(min) + " to " +
                 std::to_string(max));
        return v->GetInt64();
    }
    bool Flag(const char* name) const {
        const rapidjson::Value* v = Find(name);
        if (v && !v->IsBool())
            Fail(std::string("'") + name + "' must be true or false");
        return v && v->GetBool();
    }
    TEntryReader Object(const char* name) const {
        const rapidjson::Value* v = Find(name);
        if (!v->IsObject())
            Fail(std::string("'") + name + "' must be an object");
        return TEntryReader(*v, FWhere + "." + name);
    }
    void OnlyMembers(std::initializer_list<std::string_view> allowed) const {
        for (auto it = FEntry.MemberBegin(); it != FEntry.MemberEnd(); ++it) {
            std::string_view name(it->name.GetString(), it->name.GetStringLength());
            if (std::find(allowed.begin(), allowed.end(), name) == allowed.end())
                Fail("unknown member '" + std::string(name) + "'");
        }
    }
    const rapidjson::Value& Value() const { return FEntry; }

private:
    const rapidjson::Value& FEntry;
    std::string FWhere;
};

TVoucherCode ReadCode(const rapidjson::Value& entry, std::size_t index) {
    if (!entry.IsObject())
        throw std::invalid_argument("codes[" + std::to_string(index) + "]: must be an object");
    TEntryReader reader(entry, "codes[" + std::to_string(index) + "]");
    reader.OnlyMembers({"code", "kind", "value", "paymentPercent", "singleUse", "balance", "responseCode",
                        "responseDesc", "vsp", "loyalty", "faults", "description"});
    TVoucherCode code;
    code.Code = reader.String("code").value_or("");
    if (code.Code.empty())
        reader.Fail("'code' must be a non-empty string");
    TEntryReader named(entry, "code " + code.Code);

    const std::string kind = named.String("kind").value_or("");
    bool known = false;
    for (const auto& [k, name] : KindNames)
        if (kind == name) {
            code.Kind = k;
            known = true;
        }
    if (!known)
        named.Fail("'kind' must be one of payment, discount, split, loyalty, refused, expired");

    const bool valued =
        code.Kind == TCodeKind::Payment || code.Kind == TCodeKind::Discount || code.Kind == TCodeKind::Split;
    auto value = named.Integer("value", 1, 1'000'000'000'000LL);
    if (valued && !value)
        named.Fail("'value' (cents) is required for a " + kind + " code");
    code.Value = value.value_or(0);

    auto percent = named.Integer("paymentPercent", 0, 100);
    if (code.Kind == TCodeKind::Split && !percent)
        named.Fail("'paymentPercent' is required for a split code");
    if (code.Kind != TCodeKind::Split && percent)
        named.Fail("'paymentPercent' only applies to a split code");
    code.PaymentPercent = static_cast<int>(percent.value_or(code.Kind == TCodeKind::Payment ? 100 : 0));

    const bool singleUse = named.Flag("singleUse");
    const bool balance = named.Flag("balance");
    if (singleUse && balance)
        named.Fail("'singleUse' and 'balance' exclude each other");
    if (balance && !valued)
        named.Fail("'balance' needs a code with a value");
    code.Tracking = singleUse ? TTracking::SingleUse : balance ? TTracking::Balance : TTracking::None;

    code.ResponseCode = named.String("responseCode").value_or(code.Kind == TCodeKind::Refused ? "3" : "");
    code.ResponseDesc =
        named.String("responseDesc").value_or(code.Kind == TCodeKind::Refused ? "Voucher refused" : "");
    if (code.Kind == TCodeKind::Refused && code.ResponseCode == "-1")
        named.Fail("a refused code cannot answer -1");

    if (named.Find("vsp")) {
        TEntryReader vsp = named.Object("vsp");
        vsp.OnlyMembers({"responseCode", "responseDesc", "name"});
        code.Vsp = TVsp{vsp.Text("responseCode"), vsp.Text("responseDesc"), vsp.Text("name")};
    }
    if (named.Find("loyalty")) {
        TEntryReader loyalty = named.Object("loyalty");
        loyalty.OnlyMembers({"name", "earned"});
        code.Loyalty = TLoyalty{loyalty.Text("name"), loyalty.Text("earned")};
    } else if (code.Kind == TCodeKind::Loyalty) {
        code.Loyalty = TLoyalty{"Loyalty", "0"};
    }

    if (const rapidjson::Value* faults = named.Find("faults")) {
        if (!faults->IsArray())
            named.Fail("'faults' must be an array");
        for (const rapidjson::Value& f : faults->GetArray()) {
            try {
                TFaultRule rule = ParseFaultRule(f);
                if (!rule.Code.empty() && rule.Code != code.Code)
                    named.Fail("a fault of this code names another code");
                rule.Code = code.Code;
                code.Faults.push_back(std::move(rule));
            } catch (const std::invalid_argument& e) {
                if (std::string_view(e.what()).rfind("code ", 0) == 0)
                    throw;
                named.Fail(e.what());
            }
        }
    }
    return code;
}

} // namespace

const char* CodeKindName(TCodeKind kind) {
    for (const auto& [k, name] : KindNames)
        if (k == kind)
            return name;
    return "?";
}

TVoucherCatalogue TVoucherCatalogue::FromJson(const std::string& text) {
    zumvo::TRapidDocument doc;
    doc.Parse(text.c_str(), text.size());
    if (doc.HasParseError())
        throw std::invalid_argument(std::string("catalogue is not valid JSON: ") +
                                    rapidjson::GetParseError_En(doc.GetParseError()) + " at offset " +
                                    std::to_string(doc.GetErrorOffset()));
    const rapidjson::Value* codes = &doc;
    if (doc.IsObject()) {
        auto it = doc.FindMember("codes");
        if (it == doc.MemberEnd())
            throw std::invalid_argument("catalogue needs a member 'codes'");
        codes = &it->value;
    }
    if (!codes->IsArray())
        throw std::invalid_argument("catalogue 'codes' must be an array");
    TVoucherCatalogue catalogue;
    std::set<std::string> seen;
    for (rapidjson::SizeType i = 0; i < codes->Size(); ++i) {
        TVoucherCode code = ReadCode((*codes)[i], i);
        if (!seen.insert(code.Code).second)
            throw std::invalid_argument("code " + code.Code + ": listed twice");
        catalogue.FCodes.push_back(std::move(code));
    }
    return catalogue;
}

TVoucherCatalogue TVoucherCatalogue::FromFile(const std::string& path) {
    try {
        return FromJson(ReadTextFile(path));
    } catch (const std::invalid_argument& e) {
        throw std::invalid_argument(path + ": " + e.what());
    }
}

const TVoucherCode* TVoucherCatalogue::Find(const std::string& code) const {
    for (const TVoucherCode& c : FCodes)
        if (c.Code == code)
            return &c;
    return nullptr;
}

} // namespace sim
