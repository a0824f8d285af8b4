// Reading of voucher service answers: parse plus conversion into a JSON document (and its JSON
// text), beside pugixml's parse alone on the same text (the baseline) and beside
// Boost.PropertyTree's reading of the same text into its tree: throughput runs, and pairs of
// interleaved rounds for the ratios (CPU time). With ZUMVO_XML_REFERENCE set to a command that
// serves fast-xml-parser (bench/xml_reference.js --serve DIR), a pair against it too (wall time:
// its rounds run in that process, interleaved with ours).
//   bench_xml2json --write-inputs DIR   writes the inputs (answer_small.xml, answer_1MB.xml) for
//                                       the reference parsers of other languages, then ends
#include "BenchPair.h"
#include "SimpleXMLtoJSON.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include <benchmark/benchmark.h>

#if __has_include(<boost/property_tree/xml_parser.hpp>)
#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#define ZUMVO_HAVE_PTREE 1
#endif

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

constexpr int SmallProducts = 2;    // about 1 KB: the answer the module's callers read
constexpr int LargeProducts = 7600; // about 1 MB

const std::string& Input(int products) {
    static const std::string small = Answer(SmallProducts);
    static const std::string large = Answer(LargeProducts);
    return products == SmallProducts ? small : large;
}

void Bytes(benchmark::State& state, const std::string& xml) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(xml.size()));
}

void ParseOnly(benchmark::State& state, int products) {
    const std::string& xml = Input(products);
    for (auto _ : state) {
        pugi::xml_document tree;
        auto parsed =
            tree.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_ws_pcdata_single);
        benchmark::DoNotOptimize(parsed.status);
    }
    Bytes(state, xml);
    state.SetLabel("baseline");
}

void Convert(benchmark::State& state, int products) {
    const std::string& xml = Input(products);
    for (auto _ : state) {
        zumvo::TJSONDocument doc = zumvo::ReadSoapAnswer(xml, "transactionResponse");
        benchmark::DoNotOptimize(doc._Count());
    }
    Bytes(state, xml);
}

void ConvertToText(benchmark::State& state, int products) {
    const std::string& xml = Input(products);
    for (auto _ : state) {
        std::string text = zumvo::ReadSoapAnswer(xml, "transactionResponse").ToJSON();
        benchmark::DoNotOptimize(text.data());
    }
    Bytes(state, xml);
}

#ifdef ZUMVO_HAVE_PTREE
void PropertyTree(benchmark::State& state, int products) {
    const std::string& xml = Input(products);
    for (auto _ : state) {
        std::istringstream in(xml);
        boost::property_tree::ptree tree;
        boost::property_tree::read_xml(in, tree);
        benchmark::DoNotOptimize(tree.size());
    }
    Bytes(state, xml);
}
#endif

void PugiParse(const std::string& xml) {
    pugi::xml_document tree;
    auto parsed =
        tree.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_ws_pcdata_single);
    benchmark::DoNotOptimize(parsed.status);
}

void ReadAnswer(const std::string& xml) {
    zumvo::TJSONDocument doc = zumvo::ReadSoapAnswer(xml, "transactionResponse");
    benchmark::DoNotOptimize(doc._Count());
}

// A reference parser in a process of its own, serving batches over two pipes: it reads lines
// "SIZE CALLS" and answers each with the nanoseconds the calls took.
class TServedReference {
public:
    explicit TServedReference(const std::string& command) {
        int toChild[2], fromChild[2];
        if (pipe(toChild) != 0 || pipe(fromChild) != 0)
            throw std::runtime_error("pipe");
        FPid = fork();
        if (FPid == 0) {
            dup2(toChild[0], 0);
            dup2(fromChild[1], 1);
            close(toChild[1]);
            close(fromChild[0]);
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(toChild[0]);
        close(fromChild[1]);
        FTo = fdopen(toChild[1], "w");
        FFrom = fdopen(fromChild[0], "r");
    }
    ~TServedReference() {
        if (FTo)
            fclose(FTo); // the end of its input ends it
        if (FFrom)
            fclose(FFrom);
        if (FPid > 0)
            waitpid(FPid, nullptr, 0);
    }
    TServedReference(const TServedReference&) = delete;
    TServedReference& operator=(const TServedReference&) = delete;

    double Run(const char* size, int calls) {
        std::fprintf(FTo, "%s %d\n", size, calls);
        std::fflush(FTo);
        double ns = 0;
        if (std::fscanf(FFrom, "%lf", &ns) != 1)
            throw std::runtime_error("the reference parser's process gave no answer");
        return ns;
    }

private:
    pid_t FPid = -1;
    FILE* FTo = nullptr;
    FILE* FFrom = nullptr;
};

// node's speed differs from process to process (its JIT's choices and its heap's sizing): the
// reference's samples come from three processes in turn, so one process's level does not set a
// run's figure.
class TServedReferences {
public:
    explicit TServedReferences(const std::string& command) {
        for (auto& p : FProcesses)
            p = std::make_unique<TServedReference>(command);
    }
    double Run(const char* size, int calls) {
        return FProcesses[FNext++ % FProcesses.size()]->Run(size, calls);
    }

private:
    std::array<std::unique_ptr<TServedReference>, 3> FProcesses;
    std::size_t FNext = 0;
};

std::unique_ptr<TServedReferences> gServed;

// Names are group/variant/size; run_benchmarks.sh compares each variant with the baseline.
void Register() {
    for (auto [size, products] : {std::pair{"small", SmallProducts}, std::pair{"1MB", LargeProducts}}) {
        const std::string name = size;
        const int p = products;
        using bench::TClockKind;
        bench::TPairOptions cpu;
        cpu.Clock = TClockKind::Cpu;
        cpu.BudgetSeconds = 2;
        auto pair = [&](const std::string& ratio, std::function<void(const std::string&)> ours,
                        std::function<void(const std::string&)> reference) {
            bench::RegisterPair(ratio + "_" + name, [=](benchmark::State& s) {
                const std::string& xml = Input(p);
                bench::RunPair(s, bench::Timed(TClockKind::Cpu, [&] { ours(xml); }),
                               bench::Timed(TClockKind::Cpu, [&] { reference(xml); }), cpu);
            });
        };
        pair("answer_vs_pugixml_parse", ReadAnswer, PugiParse);
        pair(
            "answer_json_text_vs_pugixml_parse",
            [](const std::string& xml) {
                std::string text = zumvo::ReadSoapAnswer(xml, "transactionResponse").ToJSON();
                benchmark::DoNotOptimize(text.data());
            },
            PugiParse);
#ifdef ZUMVO_HAVE_PTREE
        pair("answer_vs_boost_ptree", ReadAnswer, [](const std::string& xml) {
            std::istringstream in(xml);
            boost::property_tree::ptree tree;
            boost::property_tree::read_xml(in, tree);
            benchmark::DoNotOptimize(tree.size());
        });
#endif
        if (std::getenv("ZUMVO_XML_REFERENCE")) {
            bench::RegisterPair("answer_vs_fast_xml_parser_" + name, [=](benchmark::State& s) {
                if (!gServed)
                    gServed = std::make_unique<TServedReferences>(std::getenv("ZUMVO_XML_REFERENCE"));
                const std::string& xml = Input(p);
                bench::TPairOptions wall;
                wall.BudgetSeconds = 2;
                wall.MinRounds = 21;        // node's garbage collection lands in a few of the rounds
                wall.SampleSeconds = 0.005; // many calls per sample: the pipe's round trip is not in
                                            // the reference's own count, its JIT warm-up falls out
                bench::RunPair(
                    s, bench::Timed(TClockKind::Wall, [&] { ReadAnswer(xml); }),
                    [&](int calls) { return gServed->Run(name.c_str(), calls); }, wall);
            });
        }
    }

    for (auto [size, products] : {std::pair{"small", SmallProducts}, std::pair{"1MB", LargeProducts}}) {
        auto add = [&](const char* variant, void (*fn)(benchmark::State&, int)) {
            benchmark::RegisterBenchmark((std::string("xml2json/") + variant + "/" + size).c_str(), fn,
                                         products);
        };
        add("pugixml_parse", ParseOnly);
        add("answer", Convert);
        add("answer_json_text", ConvertToText);
#ifdef ZUMVO_HAVE_PTREE
        add("boost_ptree", PropertyTree);
#endif
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string_view(argv[1]) == "--write-inputs") {
        std::ofstream(std::string(argv[2]) + "/answer_small.xml", std::ios::binary) << Input(SmallProducts);
        std::ofstream(std::string(argv[2]) + "/answer_1MB.xml", std::ios::binary) << Input(LargeProducts);
        return 0;
    }
    Register();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    gServed.reset();
    benchmark::Shutdown();
    return 0;
}
