// Reading of voucher service answers: parse plus conversion into a JSON document, measured beside
// the XML parse alone on the same text (the baseline).
#include "SimpleXMLtoJSON.h"

#include <string>

#include <benchmark/benchmark.h>

namespace {

std::string Answer(int products) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                      "<S:Envelope xmlns:S=\"http://schemas.xmlsoap.org/soap/envelope/\">\r\n"
                      "<S:Header/>\r\n<S:Body>\r\n"
                      "<ns2:transactionResponse xmlns:ns2=\"http://pos.trelvan.example/\">\r\n"
                      "<response>\r\n"
                      "<amountToSettle>1500</amountToSettle>\r\n"
                      "<loyalty><earned>12</earned><name>Stars</name></loyalty>\r\n";
    for (int i = 0; i < products; ++i) {
        xml += "<product><id>SKU-" + std::to_string(100000 + i) + "</id><pricePerUnit>" +
               std::to_string(199 + i % 5000) + "</pricePerUnit><units>" + std::to_string(1 + i % 7) +
               "</units><description>Item &amp; co. " + std::to_string(i) + "</description></product>\r\n";
    }
    xml += "<responseCode>-1</responseCode>\r\n"
           "<responseDesc>Approved</responseDesc>\r\n"
           "<totalAmountProcessed>2000</totalAmountProcessed>\r\n"
           "<tvTrxId>987654</tvTrxId>\r\n"
           "<vsp><name>Partner</name><responseCode>0</responseCode><responseDesc>OK</responseDesc></vsp>\r\n"
           "</response>\r\n</ns2:transactionResponse>\r\n</S:Body>\r\n</S:Envelope>\r\n";
    return xml;
}

constexpr int SmallProducts = 2;    // about 1 KB
constexpr int LargeProducts = 7600; // about 1 MB

const std::string& Input(int products) {
    static const std::string small = Answer(SmallProducts);
    static const std::string large = Answer(LargeProducts);
    return products == SmallProducts ? small : large;
}

void ParseOnly(benchmark::State& state, int products) {
    const std::string& xml = Input(products);
    for (auto _ : state) {
        pugi::xml_document tree;
        auto parsed =
            tree.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_ws_pcdata_single);
        benchmark::DoNotOptimize(parsed.status);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(xml.size()));
    state.SetLabel("baseline");
}

void Convert(benchmark::State& state, int products) {
    const std::string& xml = Input(products);
    for (auto _ : state) {
        zumvo::TJSONDocument doc = zumvo::ReadSoapAnswer(xml, "transactionResponse");
        benchmark::DoNotOptimize(doc._Count());
    }
    state.counters["input_bytes"] = static_cast<double>(xml.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(xml.size()));
}

// Names are group/variant/size; run_benchmarks.sh compares each variant with the baseline.
const bool registered = [] {
    for (auto [size, products] : {std::pair{"small", SmallProducts}, std::pair{"1MB", LargeProducts}}) {
        benchmark::RegisterBenchmark((std::string("xml2json/parse_only/") + size).c_str(), ParseOnly,
                                     products);
        benchmark::RegisterBenchmark((std::string("xml2json/convert/") + size).c_str(), Convert, products);
    }
    return true;
}();

} // namespace

BENCHMARK_MAIN();
