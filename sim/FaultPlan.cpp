#include "FaultPlan.h"
#include "clsRapidJson.h"

#include <array>
#include <stdexcept>
#include <utility>

namespace sim {

namespace {

constexpr std::array<std::pair<TFaultKind, const char*>, 8> FaultNames{{
    {TFaultKind::Delay, "delay"},
    {TFaultKind::Drop, "drop"},
    {TFaultKind::Http500, "http500"},
    {TFaultKind::SoapFault, "soapFault"},
    {TFaultKind::Malformed, "malformed"},
    {TFaultKind::Truncated, "truncated"},
    {TFaultKind::MissingResponse, "missingResponse"},
    {TFaultKind::Oversized, "oversized"},
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
    // out; an answer that is lost or broken stands for a request that failed.
    rule.Process = rule.Kind == TFaultKind::Delay || rule.Kind == TFaultKind::Oversized;

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
        } else {
            throw std::invalid_argument("unknown fault member '" + std::string(name) + "'");
        }
    }
    if (rule.Kind == TFaultKind::Delay && !Member(value, "ms"))
        throw std::invalid_argument("a delay fault needs 'ms'");
    return rule;
}

void WriteFaultRule(zumvo::TRapidWriter& writer, const TFaultRule& rule) {
    writer.StartObject();
    writer.Key("fault");
    writer.String(FaultKindName(rule.Kind));
    if (rule.Kind == TFaultKind::Delay) {
        writer.Key("ms");
        writer.Int(rule.DelayMs);
    }
    if (rule.Kind == TFaultKind::Oversized) {
        writer.Key("bytes");
        writer.Uint64(rule.Bytes);
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
