#include "TScenario.h"

#include "clsSysUtils.h"
#include "intfDisplayMessage.h"

#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <sstream>

namespace refhost {

namespace {

struct TKindInfo {
    const char* Name;
    TStepKind Kind;
    std::initializer_list<const char*> Required;
    std::initializer_list<const char*> Optional;
};

const TKindInfo Kinds[] = {
    {"add", TStepKind::Add, {"code", "price"}, {"description", "quantity"}},
    {"remove", TStepKind::Remove, {"code"}, {}},
    {"quantity", TStepKind::Quantity, {"code", "quantity"}, {}},
    {"voucher", TStepKind::Voucher, {}, {}},
    {"recalculate", TStepKind::Recalculate, {}, {}},
    {"discount", TStepKind::Discount, {"name"}, {}},
    {"pay", TStepKind::Pay, {"tender"}, {"amount"}},
    {"complete", TStepKind::Complete, {}, {"driver"}},
    {"cancel", TStepKind::Cancel, {}, {}},
    {"recall", TStepKind::Recall, {}, {"invoice"}},
    {"override", TStepKind::Override, {}, {}},
    {"new", TStepKind::NewSale, {}, {}},
    {"cashup", TStepKind::Cashup, {}, {"invoice"}},
    {"giveback", TStepKind::GiveBack, {}, {}},
    {"type", TStepKind::Type, {"control", "text"}, {}},
    {"click", TStepKind::Click, {"control"}, {}},
    {"answer", TStepKind::Answer, {"button"}, {}},
    {"expect",
     TStepKind::Expect,
     {},
     {"control", "text", "contains", "visible", "enabled", "window", "message", "receipt", "transcript",
      "total", "outstanding"}},
    {"screenshot", TStepKind::Screenshot, {"file"}, {"window"}},
};

const TKindInfo& Info(TStepKind kind) {
    for (const auto& k : Kinds)
        if (k.Kind == kind)
            return k;
    return Kinds[0];
}

bool Listed(std::initializer_list<const char*> names, const std::string& name) {
    for (const char* n : names)
        if (name == n)
            return true;
    return false;
}

} // namespace

std::string TScenarioStep::Title() const {
    std::string t = "step " + std::to_string(Number) + " (" + Info(Kind).Name;
    for (const char* key : {"code", "control", "tender", "button", "name", "file"})
        if (Args.Exists(key))
            t += " " + Args[key].AsString("");
    return t + ")";
}

std::string TScenarioStep::Describe() const {
    const auto q = [](const std::string& t) { return "\"" + t + "\""; };
    const auto money = [&](const char* name) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.2f", Real(name, 0));
        return std::string(buf);
    };
    switch (Kind) {
    case TStepKind::Add:
        return "add " + Args["quantity"].AsString("1") + " x " + Text("code") +
               (Args.Exists("description") ? " " + q(Text("description")) : "") + " at " + money("price");
    case TStepKind::Remove:
        return "remove the line " + Text("code");
    case TStepKind::Quantity:
        return "set the quantity of " + Text("code") + " to " + Args["quantity"].AsString("");
    case TStepKind::Discount:
        return "apply the discount " + q(Text("name"));
    case TStepKind::Pay:
        return "pay with " + Text("tender") +
               (Args.Exists("amount") ? " " + money("amount") : " what is outstanding");
    case TStepKind::Complete:
        return Args["driver"].AsBoolean(false) ? "complete as a driver's invoice" : "complete the sale";
    case TStepKind::Recall:
        return "recall invoice " + Args["invoice"].AsString("(the last one completed)");
    case TStepKind::Cashup:
        return "driver cash-up of invoice " + Args["invoice"].AsString("(the last one completed)");
    case TStepKind::GiveBack:
        return "give back what other tenders took";
    case TStepKind::Type:
        return "type " + q(Text("text")) + " into " + Text("control");
    case TStepKind::Click:
        return "click " + Text("control");
    case TStepKind::Answer:
        return "answer the next message box with " + Text("button");
    case TStepKind::Screenshot:
        return "take a picture: " + Text("file");
    case TStepKind::Expect: {
        std::string what;
        for (int i = 0; i < Args._Count(); ++i)
            if (Args.MemberName(i) != "step")
                what +=
                    (what.empty() ? "" : ", ") + Args.MemberName(i) + " " + Args[Args.MemberName(i)].ToJSON();
        return "expect " + what;
    }
    default:
        return Info(Kind).Name;
    }
}

bool TScenarioStep::OnScreen() const {
    return IsScreenStep(Kind);
}

bool IsScreenStep(TStepKind kind) {
    switch (kind) {
    case TStepKind::Type:
    case TStepKind::Click:
    case TStepKind::Answer:
    case TStepKind::Expect:
    case TStepKind::Screenshot:
        return true;
    default:
        return false;
    }
}

std::string TScenarioStep::Text(const char* name) const {
    return Args[name].AsString("");
}

double TScenarioStep::Real(const char* name, double fallback) const {
    return Args[name].AsFloat(fallback);
}

std::int32_t ButtonFromName(const std::string& name) {
    for (const auto& [text, bit] : {std::pair{"Yes", pallux::mbYes}, std::pair{"No", pallux::mbNo},
                                    std::pair{"OK", pallux::mbOK}, std::pair{"Cancel", pallux::mbCancel}})
        if (pallux::SameText(name, text))
            return bit;
    throw EScenarioError("unknown button \"" + name + "\" (Yes, No, OK or Cancel)");
}

TScenario TScenario::Parse(const std::string& jsonText) {
    zumvo::TJSONDocument doc;
    try {
        doc = zumvo::TJSONDocument::Parse(jsonText);
    } catch (const std::exception& e) {
        throw EScenarioError(std::string("not JSON: ") + e.what());
    }
    TScenario s;
    zumvo::TJSONValue steps = doc.Root();
    if (doc.IsObject()) {
        for (int i = 0; i < doc._Count(); ++i) {
            const std::string member = doc.MemberName(i);
            if (!Listed({"name", "cashier", "timeoutMs", "steps", "description"}, member))
                throw EScenarioError("unknown member \"" + member +
                                     "\" (name, cashier, timeoutMs, steps, description)");
        }
        s.Name = doc["name"].AsString("");
        s.Cashier = doc["cashier"].AsString("");
        s.TimeoutMs = doc["timeoutMs"].AsInteger(s.TimeoutMs);
        if (s.TimeoutMs <= 0)
            throw EScenarioError("timeoutMs must be above 0");
        steps = doc["steps"];
    }
    if (!steps.IsArray())
        throw EScenarioError("a scenario is a list of steps, or an object with \"steps\"");
    for (int i = 0; i < steps._Count(); ++i) {
        const std::string where = "step " + std::to_string(i + 1) + ": ";
        const zumvo::TJSONValue step = steps[i];
        if (!step.IsObject())
            throw EScenarioError(where + "a step is an object with \"step\"");
        const std::string kind = step["step"].AsString("");
        const TKindInfo* info = nullptr;
        for (const auto& k : Kinds)
            if (kind == k.Name)
                info = &k;
        if (!info) {
            std::string known;
            for (const auto& k : Kinds)
                known += (known.empty() ? "" : ", ") + std::string(k.Name);
            throw EScenarioError(where + "unknown step \"" + kind + "\" (known: " + known + ")");
        }
        for (const char* required : info->Required)
            if (!step.Exists(required))
                throw EScenarioError(where + "\"" + kind + "\" needs \"" + required + "\"");
        for (int m = 0; m < step._Count(); ++m) {
            const std::string member = step.MemberName(m);
            // A sale step may be expected to be refused, with a text the reason contains.
            const bool refusal = member == "refused" && !IsScreenStep(info->Kind);
            if (member != "step" && !refusal && !Listed(info->Required, member) &&
                !Listed(info->Optional, member))
                throw EScenarioError(where + "\"" + kind + "\" has no member \"" + member + "\"");
        }
        if (info->Kind == TStepKind::Answer)
            try {
                ButtonFromName(step["button"].AsString(""));
            } catch (const EScenarioError& e) {
                throw EScenarioError(where + e.what());
            }
        if (info->Kind == TStepKind::Expect && step._Count() < 2)
            throw EScenarioError(where + "\"expect\" needs something to expect");
        if (info->Kind == TStepKind::Expect && step.Exists("control") &&
            !(step.Exists("text") || step.Exists("contains") || step.Exists("visible") ||
              step.Exists("enabled")))
            throw EScenarioError(where + "\"expect\" of a control needs text, contains, visible or enabled");
        TScenarioStep parsed;
        parsed.Number = i + 1;
        parsed.Kind = info->Kind;
        parsed.Args = zumvo::TJSONDocument::CopyOf(step);
        s.Steps.push_back(std::move(parsed));
    }
    return s;
}

TScenario TScenario::Load(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw EScenarioError(file.string() + ": cannot be read");
    std::stringstream text;
    text << in.rdbuf();
    try {
        return Parse(text.str());
    } catch (const EScenarioError& e) {
        throw EScenarioError(file.string() + ": " + e.what());
    }
}

} // namespace refhost
