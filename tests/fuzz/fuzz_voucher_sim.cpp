// The voucher simulator's request handling from arbitrary text: a SOAP body is read as a request
// or refused with ESoapClientError, judged against the simulator's catalogue, and answered with an
// envelope that is well-formed XML whatever the request echoed; a fault rule body is read or
// refused with std::invalid_argument. A first byte 'F' selects the fault rule reading.
#include "FaultPlan.h"
#include "FuzzCheck.h"
#include "SoapMessages.h"
#include "VoucherService.h"

#include <cstddef>
#include <cstdint>

#include <pugixml.hpp>

using namespace sim;
using zumvo::fuzz::Check;

namespace {

const TVoucherCatalogue& Catalogue() {
    static const TVoucherCatalogue catalogue =
        TVoucherCatalogue::FromFile(ZUMVO_SOURCE_DIR "/sim/data/catalogue.json");
    return catalogue;
}

void SoapRequest(const std::string& body) {
    // Strict mode judges any body with a fault (a client error) or lets it through; a body it lets
    // through is a request the lenient reader reads too.
    bool documented = true;
    try {
        CheckDocumentedRequest(body);
    } catch (const ESoapClientError&) {
        documented = false;
    }
    TSoapRequest request;
    try {
        request = ParseSoapRequest(body);
    } catch (const ESoapClientError& e) {
        Check(!documented, "a request strict mode serves is read");
        pugi::xml_document fault;
        Check(fault.load_string(BuildSoapFault("Client", e.what()).c_str()), "a fault envelope is XML");
        return;
    }
    TVoucherService service(Catalogue());
    const TAnswer answer = service.Handle(request);
    pugi::xml_document xml;
    Check(xml.load_string(BuildAnswerEnvelope(request.Kind, answer).c_str()), "an answer envelope is XML");
    zumvo::TRapidDocument ledger;
    ledger.Parse(service.LedgerJson().c_str());
    Check(!ledger.HasParseError(), "the ledger of an answered request is JSON");
}

void FaultRuleBody(const std::string& body) {
    zumvo::TRapidDocument doc;
    doc.Parse(body.c_str(), body.size());
    if (doc.HasParseError())
        return;
    TVoucherService service(Catalogue());
    try {
        service.AddFault(ParseFaultRule(doc));
    } catch (const std::invalid_argument&) {
        return;
    }
    zumvo::TRapidDocument written;
    written.Parse(service.FaultsJson().c_str());
    Check(!written.HasParseError() && written.IsObject() && written["faults"].Size() == 1,
          "a kept rule is listed");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (!text.empty() && text[0] == 'F')
        FaultRuleBody(text.substr(1));
    else
        SoapRequest(text);
    return 0;
}
