#include "FaultPlan.h"
#include "clsRapidJson.h"

#include <array>
#include <stdexcept>
#include <utility>

namespace sim {

namespace {

constexpr std::array<std::pair<TFaultKind, const char*>, 11> FaultNames{{
    {TFaultKind::Delay, "delay"},
    {TFaultKind::Drop, "drop"},
    {TFaultKind::Http500, "http500"},
    {TFaultKind::SoapFault, "soapFault"},
    {TFaultKind::Malformed, "malformed"},
    {TFaultKind::Truncated, "truncated"},
    {TFaultKind::MissingResponse, "missingResponse"},
    {TFaultKind::Oversized, "oversized"},
    {TFaultKind::Late, "late"},
    {TFaultKind::Inflated, "inflated"},
    {TFaultKind::Refused, "refused"},
}};

constexpr std::array<std::pair<TInflate, const char*>, 3> InflateNames{{
    {TInflate::Both, "both"},
    {TInflate::Total, "total"},
    {TInflate::Settle, "settle"},
}};

const rapidjson::Value* Member(const rapidjson::Value& object, const char* name) {
    auto it = object.FindMember(name);
    return it == object.MemberEnd() ? nullptr : &it->value;
}

std::int64_t ReadCount(const rapidjson::Value& object, const char* name, std::int64_t min, std::int64_t max) {
    const rapidjson::Value* value = Member(object, name);
    if (!value->IsInt64() || value->GetInt64() < min || value->GetInt64() > max)
        throw std::invalid_argument(std::string("fault member '") + name + "' must be a whole number from " +
                                    std::to_string(min) + " to " + std::to_string(max));
    return value->GetInt64();
}

} // namespace

const char* FaultKindName(TFaultKind kind) {
    for (const auto& [k, name] : FaultNames)
        if (k == kind)
            return name;
    return "?";
}

const char* InflateName(TInflate inflate) {
    for (const auto& [k, name] : InflateNames)
        if (k == inflate)
            return name;
    return "?";
}

bool TFaultRule::Matches(TRequestKind kind, const std::string& code) const {
    if (Remaining && *Remaining <= 0)
        return false;
    if (Request && *Request != kind)
        return false;
    return Code.empty() || Code == code;
}

TFaultRule ParseFaultRule(const rapidjson::Value& value) {
    if (!value.IsObject())
        throw std::invalid_argument("a fault must be a JSON object");
    const rapidjson::Value* kind = Member(value, "fault");
    if (!kind || !kind->IsString())
        throw std::invalid_argument("a fault needs a member 'fault' naming its kind");
    TFaultRule rule;
    bool known = false;
    for (const auto& [k, name] : FaultNames)
        if (name == std::string_view(kind->GetString())) {
            rule.Kind = k;
            known = true;
        }
    if (!known)
        throw std::invalid_argument(std::string("unknown fault '") + kind->GetString() + "'");
    // The late answer and the large answer are complete answers, so their request is carried
    // out; an answer that is lost or broken stands for a request that failed. A late request is
    // carried out after its connection dropped, and an inflated answer is an accepted one.
    rule.Process = rule.Kind == TFaultKind::Delay || rule.Kind == TFaultKind::Oversized ||
                   rule.Kind == TFaultKind::Late || rule.Kind == TFaultKind::Inflated;
    // Only a transaction has amounts to inflate.
    if (rule.Kind == TFaultKind::Inflated)
        rule.Request = TRequestKind::Transaction;

    for (auto it = value.MemberBegin(); it != value.MemberEnd(); ++it) {
        std::string_view name(it->name.GetString(), it->name.GetStringLength());
        const rapidjson::Value& member = it->value;
        if (name == "fault") {
            continue;
        } else if (name == "ms") {
            rule.DelayMs = static_cast<int>(ReadCount(value, "ms", 0, 3'600'000));
        } else if (name == "bytes") {
            rule.Bytes = static_cast<std::size_t>(ReadCount(value, "bytes", 1, 256LL * 1024 * 1024));
        } else if (name == "count") {
            rule.Remaining = static_cast<int>(ReadCount(value, "count", 1, 1'000'000));
        } else if (name == "code") {
            if (!member.IsString())
                throw std::invalid_argument("fault member 'code' must be a string");
            rule.Code.assign(member.GetString(), member.GetStringLength());
        } else if (name == "request") {
            std::string_view request = member.IsString() ? member.GetString() : "";
            if (request == "transaction")
                rule.Request = TRequestKind::Transaction;
            else if (request == "advise")
                rule.Request = TRequestKind::Advice;
            else
                throw std::invalid_argument("fault member 'request' must be \"transaction\" or \"advise\"");
        } else if (name == "process") {
            if (!member.IsBool())
                throw std::invalid_argument("fault member 'process' must be true or false");
            rule.Process = member.GetBool();
        } else if (name == "cents") {
            rule.Cents = ReadCount(value, "cents", 1, 1'000'000'000);
        } else if (name == "inflate") {
            std::string_view inflate = member.IsString() ? member.GetString() : "";
            bool found = false;
            for (const auto& [k, text] : InflateNames)
                if (inflate == text) {
                    rule.Inflate = k;
                    found = true;
                }
            if (!found)
                throw std::invalid_argument(
                    "fault member 'inflate' must be \"both\", \"total\" or \"settle\"");
        } else if (name == "responseCode" || name == "responseDesc") {
            if (!member.IsString() || member.GetStringLength() == 0)
                throw std::invalid_argument("fault member '" + std::string(name) +
                                            "' must be a non-empty string");
            (name == "responseCode" ? rule.ResponseCode : rule.ResponseDesc)
                .assign(member.GetString(), member.GetStringLength());
        } else {
            throw std::invalid_argument("unknown fault member '" + std::string(name) + "'");
        }
    }
    if ((rule.Kind == TFaultKind::Delay || rule.Kind == TFaultKind::Late) && !Member(value, "ms"))
        throw std::invalid_argument(std::string("a ") + FaultKindName(rule.Kind) + " fault needs 'ms'");
    const auto only = [&](const char* member, bool allowed, const char* kinds) {
        if (Member(value, member) && !allowed)
            throw std::invalid_argument(std::string("fault member '") + member + "' belongs to " + kinds +
                                        " faults only");
    };
    only("cents", rule.Kind == TFaultKind::Inflated, "inflated");
    only("inflate", rule.Kind == TFaultKind::Inflated, "inflated");
    only("responseCode", rule.Kind == TFaultKind::Refused, "refused");
    only("responseDesc", rule.Kind == TFaultKind::Refused, "refused");
    if (rule.Kind == TFaultKind::Inflated && rule.Request != TRequestKind::Transaction)
        throw std::invalid_argument("an inflated fault concerns transactions only");
    if (rule.Kind == TFaultKind::Inflated && !rule.Process)
        throw std::invalid_argument("an inflated answer is an accepted one: 'process' cannot be false");
    if (rule.Kind == TFaultKind::Refused && rule.ResponseCode == "-1")
        throw std::invalid_argument("a refused fault cannot answer -1 (accepted)");
    return rule;
}

void WriteFaultRule(zumvo::TRapidWriter& writer, const TFaultRule& rule) {
    writer.StartObject();
    writer.Key("fault");
    writer.String(FaultKindName(rule.Kind));
    if (rule.Kind == TFaultKind::Delay || rule.Kind == TFaultKind::Late) {
        writer.Key("ms");
        writer.Int(rule.DelayMs);
    }
    if (rule.Kind == TFaultKind::Oversized) {
        writer.Key("bytes");
        writer.Uint64(rule.Bytes);
    }
    if (rule.Kind == TFaultKind::Inflated) {
        writer.Key("inflate");
        writer.String(InflateName(rule.Inflate));
        writer.Key("cents");
        writer.Int64(rule.Cents);
    }
    if (!rule.ResponseCode.empty()) {
        writer.Key("responseCode");
        writer.String(rule.ResponseCode.c_str(), static_cast<rapidjson::SizeType>(rule.ResponseCode.size()));
    }
    if (!rule.ResponseDesc.empty()) {
        writer.Key("responseDesc");
        writer.String(rule.ResponseDesc.c_str(), static_cast<rapidjson::SizeType>(rule.ResponseDesc.size()));
    }
    if (!rule.Code.empty()) {
        writer.Key("code");
        writer.String(rule.Code.c_str(), static_cast<rapidjson::SizeType>(rule.Code.size()));
    }
    if (rule.Request) {
        writer.Key("request");
        writer.String(RequestKindName(*rule.Request));
    }
    if (rule.Remaining) {
        writer.Key("count");
        writer.Int(*rule.Remaining);
    }
    writer.Key("process");
    writer.Bool(rule.Process);
    writer.EndObject();
}

std::optional<TFaultRule> TFaultPlan::Take(TRequestKind kind, const std::string& code) {
    for (auto it = FRules.begin(); it != FRules.end(); ++it)
        if (it->Matches(kind, code)) {
            TFaultRule taken = *it;
            if (it->Remaining && --*it->Remaining <= 0)
                FRules.erase(it); // spent
            return taken;
        }
    return std::nullopt;
}

} // namespace sim
