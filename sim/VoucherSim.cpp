#include "VoucherSim.h"
#include "clsRapidJson.h"

#include <rapidjson/error/en.h>

#include <sstream>

namespace sim {

namespace {

constexpr const char* XmlContentType = "text/xml; charset=utf-8";

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        const auto first = item.find_first_not_of(" \t");
        const auto last = item.find_last_not_of(" \t");
        if (first != std::string::npos)
            items.push_back(item.substr(first, last - first + 1));
    }
    return items;
}

} // namespace

TVoucherSimOptions ParseVoucherSimArgs(const TArgs& args) {
    TVoucherSimOptions options;
    const std::vector<std::string> valueless{"help", "quiet", "no-reversal-memory",
                                             "no-reversal-by-reference", "strict"};
    args.ForEach(valueless, [&](const std::string& name, const std::string& value) {
        if (name == "port")
            options.Port = ParsePort(value);
        else if (name == "host")
            options.Host = value;
        else if (name == "catalogue")
            options.CataloguePath = value;
        else if (name == "api-id")
            options.Config.ApiId = value;
        else if (name == "api-password")
            options.Config.ApiPassword = value;
        else if (name == "stores")
            options.Config.Stores = SplitList(value);
        else if (name == "path")
            options.Path = value;
        else if (name == "cert")
            options.CertFile = value;
        else if (name == "key")
            options.KeyFile = value;
        else if (name == "quiet")
            options.Quiet = true;
        else if (name == "no-reversal-memory")
            options.Config.ReversalMemory = false;
        else if (name == "no-reversal-by-reference")
            options.Config.ReversalByReference = false;
        else if (name == "strict")
            options.Config.Strict = true;
        else if (name == "help")
            options.Help = true;
        else
            throw std::invalid_argument("unknown flag --" + name);
    });
    if (options.Path.empty() || options.Path.front() != '/')
        throw std::invalid_argument("--path must start with '/'");
    if (options.CertFile.empty() != options.KeyFile.empty())
        throw std::invalid_argument("--cert and --key go together");
    return options;
}

std::string VoucherSimUsage() {
    return "usage: zumvo_voucher_sim [--port N] [--host ADDR] [--catalogue FILE] [--api-id ID]\n"
           "                         [--api-password PWD] [--stores 17,23] [--path "
           "/pos/services/PosService]\n"
           "                         [--cert FILE --key FILE] [--no-reversal-memory] [--no-reversal-by-reference]\n"
           "                         [--strict] [--quiet]\n"
           "Plays the voucher service over SOAP on HTTP, or HTTPS with a certificate and key (PEM). --port 0 "
           "(the default) picks a free port;\n"
           "the port is printed as \"listening on PORT\". See sim/README.md.\n";
}

TVoucherSim::TVoucherSim(TVoucherCatalogue catalogue, TVoucherSimConfig config, std::string path)
    : FService(std::move(catalogue), std::move(config)), FPath(std::move(path)) {}

// Stop before the members the handlers use are destroyed; late requests still waiting are
// cut short (never carried out).
TVoucherSim::~TVoucherSim() {
    Stop();
    std::vector<std::thread> late;
    {
        std::lock_guard lock(FLateMutex);
        late.swap(FLate);
    }
    for (std::thread& t : late)
        t.join();
}

void TVoucherSim::CarryOutLate(TSoapRequest request, int ms) {
    std::lock_guard lock(FLateMutex);
    if (Stopping())
        return;
    FLate.emplace_back([this, request = std::move(request), ms] {
        if (Pause(ms))
            FService.Handle(request);
    });
}

void TVoucherSim::Routes(httplib::Server& http) {
    http.Post(FPath, [this](const httplib::Request& req, httplib::Response& res) { HandleSoap(req, res); });

    http.Get("/ledger", [this](const httplib::Request&, httplib::Response& res) {
        ReplyJson(res, 200, FService.LedgerJson());
    });
    http.Get("/ledger/advices", [this](const httplib::Request&, httplib::Response& res) {
        ReplyJson(res, 200, FService.AdvicesJson());
    });
    http.Post("/ledger/reset", [this](const httplib::Request&, httplib::Response& res) {
        FService.Reset();
        ReplyJson(res, 200, R"({"reset":true})");
    });
    http.Get("/codes", [this](const httplib::Request&, httplib::Response& res) {
        ReplyJson(res, 200, FService.CodesJson());
    });
    http.Get("/faults", [this](const httplib::Request&, httplib::Response& res) {
        ReplyJson(res, 200, FService.FaultsJson());
    });
    http.Post("/faults", [this](const httplib::Request& req, httplib::Response& res) {
        zumvo::TRapidDocument doc;
        doc.Parse(req.body.c_str(), req.body.size());
        if (doc.HasParseError())
            return ReplyError(res, 400,
                              std::string("body is not valid JSON: ") +
                                  rapidjson::GetParseError_En(doc.GetParseError()));
        // Read every rule before adding any, so that a bad one leaves the plan as it was.
        std::vector<TFaultRule> rules;
        try {
            if (doc.IsArray()) {
                for (const rapidjson::Value& v : doc.GetArray())
                    rules.push_back(ParseFaultRule(v));
            } else {
                rules.push_back(ParseFaultRule(doc));
            }
        } catch (const std::invalid_argument& e) {
            return ReplyError(res, 400, e.what());
        }
        for (TFaultRule& rule : rules)
            FService.AddFault(std::move(rule));
        ReplyJson(res, 200, FService.FaultsJson());
    });
    http.Post("/faults/clear", [this](const httplib::Request&, httplib::Response& res) {
        FService.ClearFaults();
        ReplyJson(res, 200, FService.FaultsJson());
    });
    http.Get("/faults/struck", [this](const httplib::Request&, httplib::Response& res) {
        ReplyJson(res, 200, FService.StruckJson());
    });
    http.Get("/settings", [this](const httplib::Request&, httplib::Response& res) {
        ReplyJson(res, 200, FService.SettingsJson());
    });
    http.Post("/settings", [this](const httplib::Request& req, httplib::Response& res) {
        zumvo::TRapidDocument doc;
        doc.Parse(req.body.c_str(), req.body.size());
        if (doc.HasParseError() || !doc.IsObject())
            return ReplyError(res, 400, "body must be a JSON object");
        for (auto it = doc.MemberBegin(); it != doc.MemberEnd(); ++it) {
            const std::string_view name = it->name.GetString();
            if ((name != "reversalMemory" && name != "reversalByReference" && name != "strict") ||
                !it->value.IsBool())
                return ReplyError(
                    res, 400,
                    "unknown setting '" + std::string(name) +
                        "' (known: reversalMemory, reversalByReference, strict; true or false)");
        }
        if (doc.HasMember("reversalMemory"))
            FService.SetReversalMemory(doc["reversalMemory"].GetBool());
        if (doc.HasMember("reversalByReference"))
            FService.SetReversalByReference(doc["reversalByReference"].GetBool());
        if (doc.HasMember("strict"))
            FService.SetStrict(doc["strict"].GetBool());
        ReplyJson(res, 200, FService.SettingsJson());
    });
}

void TVoucherSim::HandleSoap(const httplib::Request& req, httplib::Response& res) {
    TSoapRequest request;
    try {
        if (FService.Strict())
            CheckDocumentedRequest(req.body);
        request = ParseSoapRequest(req.body);
    } catch (const ESoapVersionMismatch& e) {
        res.status = 500;
        res.set_content(BuildSoapFault("VersionMismatch", e.what()), XmlContentType);
        return;
    } catch (const ESoapClientError& e) {
        res.status = 500;
        res.set_content(BuildSoapFault("Client", e.what()), XmlContentType);
        return;
    }

    const std::optional<TFaultRule> fault = FService.TakeFault(request);
    if (fault && fault->Kind == TFaultKind::Late) {
        // The connection drops before anything is done; the request is carried out later (or
        // not at all without 'process').
        DropConnection(req);
        if (fault->Process)
            CarryOutLate(request, fault->DelayMs);
        return;
    }
    TAnswer answer;
    if (!fault || fault->Process) {
        answer = FService.Handle(request, fault ? &*fault : nullptr);
    } else {
        answer.ResponseCode = code::NotProcessed;
        answer.ResponseDesc = "Request not processed";
    }
    if (!fault) {
        res.set_content(BuildAnswerEnvelope(request.Kind, answer), XmlContentType);
        return;
    }

    switch (fault->Kind) {
    case TFaultKind::Delay:
        if (!Pause(fault->DelayMs)) {
            DropConnection(req); // shutting down: do not hold the server up
            return;
        }
        res.set_content(BuildAnswerEnvelope(request.Kind, answer), XmlContentType);
        return;
    case TFaultKind::Drop:
        DropConnection(req);
        return;
    case TFaultKind::Http500:
        res.status = 500;
        res.set_content(BuildErrorPage(500, "Internal Server Error"), "text/html; charset=utf-8");
        return;
    case TFaultKind::SoapFault:
        res.status = 500;
        res.set_content(BuildSoapFault("Server", "Internal service error"), XmlContentType);
        return;
    case TFaultKind::Malformed:
        res.set_content(BuildMalformedAnswer(request.Kind, answer), XmlContentType);
        return;
    case TFaultKind::Truncated:
        res.set_content(BuildTruncatedAnswer(request.Kind, answer), XmlContentType);
        return;
    case TFaultKind::MissingResponse:
        res.set_content(BuildAnswerWithoutResponse(request.Kind), XmlContentType);
        return;
    case TFaultKind::Oversized:
        res.set_content(BuildAnswerEnvelope(request.Kind, answer, fault->Bytes), XmlContentType);
        return;
    case TFaultKind::Inflated: // the raised amounts are in the answer already
        res.set_content(BuildAnswerEnvelope(request.Kind, answer), XmlContentType);
        return;
    case TFaultKind::Refused: {
        const bool transaction = request.Kind == TRequestKind::Transaction;
        TAnswer refused;
        refused.ResponseCode = !fault->ResponseCode.empty() ? fault->ResponseCode
                               : transaction                ? code::Refused
                                                            : code::AdviceRefused;
        refused.ResponseDesc = !fault->ResponseDesc.empty() ? fault->ResponseDesc
                               : transaction                ? "Voucher refused"
                                                            : "Advice refused";
        if (transaction) {
            refused.TotalAmountProcessed = 0;
            refused.AmountToSettle = 0;
        } else {
            refused.TvTrxId = answer.TvTrxId;
        }
        res.set_content(BuildAnswerEnvelope(request.Kind, refused), XmlContentType);
        return;
    }
    case TFaultKind::Late: // answered above
        return;
    }
}

} // namespace sim
