// The SOAP client against a recording REST client: the two envelopes as sent, the password
// masked in the log, escaping, amounts, and failures that must not escape.
#include "LogCapture.h"
#include "ModuleTestHost.h"
#include "SimpleXMLtoJSON.h"
#include "clsMoney.h"
#include "implZumvoAPI.h"
#include "intfRestClient.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <limits>
#include <memory>
#include <random>
#include <stdexcept>

using namespace zumvo;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

struct TRestRecord {
    int Posts = 0;
    std::string BaseURL, Resource, Body;
    pallux::TStringList Headers;
    std::int32_t Options = -1;
    std::string Answer = "<answer/>";
    std::string Failure; // raised as a transport error when not empty
};

class TRecordingRest : public pallux::TInterfacedObject<pallux::IRestClient> {
public:
    explicit TRecordingRest(std::shared_ptr<TRestRecord> r) : R(std::move(r)) {}
    void PALLUX_CALL SetBaseURL(const std::string& url) override { R->BaseURL = url; }
    void PALLUX_CALL SetBasicAuth(const std::string&, const std::string&) override {}
    bool PALLUX_CALL Get(const std::string&, const pallux::TStringList&, std::string&) override {
        return false;
    }
    std::string PALLUX_CALL Post(const std::string& resource, const std::string& body,
                                 const pallux::TStringList& headers, std::int32_t options) override {
        ++R->Posts;
        R->Resource = resource;
        R->Body = body;
        R->Headers = headers;
        R->Options = options;
        if (!R->Failure.empty())
            throw std::runtime_error(R->Failure);
        return R->Answer;
    }
    void PALLUX_CALL SetTimeouts(std::int32_t, std::int32_t) override {}
    std::int32_t PALLUX_CALL GetLastStatus() override { return 200; }

private:
    std::shared_ptr<TRestRecord> R;
};

// Golden texts are written with LF; the wire has CR LF.
std::string Crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

const std::string Password = "Pw-9f3k";

class ZumvoAPITest : public ::testing::Test {
protected:
    test::TModuleTestHost host;
    test::TLogCapture log{host.Folder};
    std::shared_ptr<TRestRecord> rest = std::make_shared<TRestRecord>();
    pallux::IntfPtr<IZumvoAPI> api;

    void SetUp() override {
        refhost::RegisterHostFactory<pallux::IRestClient>(
            *host.Container, [r = rest] { return pallux::MakeIntf<TRecordingRest>(r); });
        host.Container->RegisterFactory(IZumvoAPI::IID,
                                        pallux::MakeIntf<TZumvoAPIFactory, pallux::IServiceFactory>().get());
        ASSERT_TRUE(CreateService(api));
        api->SetServer("http://voucher.test:8080", "/pos/services/PosService");
        api->SetCredentials("pos", Password);
        api->SetStore(17, "Till-3");
    }

    std::string LogText() const {
        std::string text;
        for (const auto& l : log.Lines())
            text += l + "\n";
        return text;
    }

    std::string Transaction(const std::string& token, const std::string& products) {
        std::string response = "stale";
        api->Transaction("12-5", "9", "12-40", token, "ZUMVO", 2599, 2599, "PAYMENT", products, response);
        return response;
    }
    std::string Advice(const std::string& action) {
        std::string response = "stale";
        api->Advice("12-5", "9", "12-40", action, 1001, "PAYMENT", response);
        return response;
    }
};

const char* const TransactionGolden =
    R"(<soapenv:Envelope xmlns:soapenv="http://schemas.xmlsoap.org/soap/envelope/" xmlns:pos="http://pos.services.trelvan.com/">
  <soapenv:Header/>
  <soapenv:Body>
    <pos:transaction>
      <request>
        <apiCredentials>
          <apiClientVersion>0.0.0.14</apiClientVersion>
          <apiServerVersion>1.14</apiServerVersion>
          <id>pos</id>
          <password>%PASSWORD%</password>
        </apiCredentials>
        <basketAmount>2599</basketAmount>
%PRODUCTS%        <storeTrxDetails>
          <basketId>12-5</basketId>
          <cashierId>9</cashierId>
          <posId>Till-3</posId>
          <storeId>17</storeId>
          <trxId>12-40</trxId>
        </storeTrxDetails>
        <token>
          <id>%TOKEN%</id>
          <type>ZUMVO</type>
        </token>
        <totalAmount>2599</totalAmount>
        <type>PAYMENT</type>
      </request>
    </pos:transaction>
  </soapenv:Body>
</soapenv:Envelope>
)";

const char* const ProductsGolden = R"(        <product>
          <id>SKU-1</id>
          <pricePerUnit>1250</pricePerUnit>
          <units>2</units>
        </product>
        <product>
          <id>SKU-2</id>
          <pricePerUnit>1250</pricePerUnit>
          <units>4</units>
        </product>
        <product>
          <id>SKU-3</id>
          <pricePerUnit>199</pricePerUnit>
          <units>1</units>
        </product>
        <product>
          <id>SKU&lt;4&gt; &amp; &quot;co&apos;</id>
          <pricePerUnit>29</pricePerUnit>
          <units>0</units>
        </product>
)";

const char* const AdviceGolden =
    R"(<soapenv:Envelope xmlns:soapenv="http://schemas.xmlsoap.org/soap/envelope/" xmlns:pos="http://pos.services.trelvan.com/">
  <soapenv:Header/>
  <soapenv:Body>
    <pos:advise>
      <request>
        <apiCredentials>
          <apiClientVersion>0.0.0.14</apiClientVersion>
          <apiServerVersion>1.14</apiServerVersion>
          <id>pos</id>
          <password>%PASSWORD%</password>
        </apiCredentials>
        <action>%ACTION%</action>
        <originalTrx>
          <storeTrxDetails>
            <basketId>12-5</basketId>
            <cashierId>9</cashierId>
            <posId>Till-3</posId>
            <storeId>17</storeId>
            <trxId>12-40</trxId>
          </storeTrxDetails>
          <type>PAYMENT</type>
          <tvTrxId>1001</tvTrxId>
        </originalTrx>
      </request>
    </pos:advise>
  </soapenv:Body>
</soapenv:Envelope>
)";

std::string Fill(std::string text, const std::string& key, const std::string& value) {
    for (auto p = text.find(key); p != std::string::npos; p = text.find(key, p + value.size()))
        text.replace(p, key.size(), value);
    return text;
}

std::string ExpectedTransaction(const std::string& password, const std::string& products,
                                const std::string& token) {
    return Fill(Fill(Fill(TransactionGolden, "%PASSWORD%", password), "%PRODUCTS%", products), "%TOKEN%",
                token);
}

} // namespace

TEST_F(ZumvoAPITest, TransactionEnvelopeWithProductsIsSentAsWrittenAndLoggedMasked) {
    // Items without a Code are skipped; prices are truncated cents, quantities rounded half-even.
    const std::string products = R"([
        {"Code": "SKU-1", "Price": 12.5, "Quantity": 2.5},
        {"Code": "", "Price": 3, "Quantity": 1},
        {"Code": "SKU-2", "Price": 12.5, "Quantity": 3.5},
        {"Price": 4, "Quantity": 1},
        {"Code": "SKU-3", "Price": 1.999, "Quantity": 1},
        {"Code": "SKU<4> & \"co'", "Price": 0.29, "Quantity": 0.5}])";
    rest->Answer = "<soap:Envelope><soap:Body/></soap:Envelope>";
    const std::string response = Transaction("ZV-123", products);

    EXPECT_EQ(response, rest->Answer);
    ASSERT_EQ(rest->Posts, 1);
    EXPECT_EQ(rest->BaseURL, "http://voucher.test:8080");
    EXPECT_EQ(rest->Resource, "/pos/services/PosService");
    EXPECT_TRUE(rest->Headers.empty());
    EXPECT_EQ(rest->Options, 0);
    EXPECT_EQ(rest->Body, Crlf(ExpectedTransaction(Password, ProductsGolden, "ZV-123")));

    const std::string logText = LogText();
    EXPECT_THAT(logText, HasSubstr("[TZumvoAPI.Transaction] Request : " +
                                   ExpectedTransaction(MaskedPassword, ProductsGolden, "ZV-123")));
    EXPECT_THAT(logText, HasSubstr("[TZumvoAPI.Transaction] Response : " + rest->Answer));
    EXPECT_THAT(logText, Not(HasSubstr(Password)));
}

TEST_F(ZumvoAPITest, TransactionWithoutKeptItemsHasNoProductElement) {
    for (const std::string products :
         {"[]", "", R"([{"Code": "", "Price": 1, "Quantity": 1}, {"Price": 2}])"}) {
        Transaction("ZV-1", products);
        EXPECT_EQ(rest->Body, Crlf(ExpectedTransaction(Password, "", "ZV-1"))) << products;
        EXPECT_THAT(rest->Body, HasSubstr("<basketAmount>2599</basketAmount>\r\n        <storeTrxDetails>"));
    }
}

TEST_F(ZumvoAPITest, AdviceEnvelopesForBothActions) {
    for (const std::string action : {"FINALISE", "REVERSE"}) {
        rest->Answer = "answer to " + action;
        EXPECT_EQ(Advice(action), rest->Answer);
        const std::string golden = Fill(AdviceGolden, "%ACTION%", action);
        EXPECT_EQ(rest->Body, Crlf(Fill(golden, "%PASSWORD%", Password)));
        EXPECT_THAT(LogText(),
                    HasSubstr("[TZumvoAPI.Advice] Request : " + Fill(golden, "%PASSWORD%", MaskedPassword)));
        EXPECT_THAT(LogText(), HasSubstr("[TZumvoAPI.Advice] Response : answer to " + action));
    }
    EXPECT_THAT(LogText(), Not(HasSubstr(Password)));
}

TEST_F(ZumvoAPITest, PasswordEchoedByTheServerIsMaskedInTheLogButReturnedUnchanged) {
    rest->Answer =
        "<Envelope><Body><ns2:password a=\"1\">" + Password + "</ns2:password><p>ok</p></Body></Envelope>";
    EXPECT_EQ(Advice("REVERSE"), rest->Answer);
    EXPECT_THAT(LogText(), HasSubstr("<ns2:password a=\"1\">********</ns2:password><p>ok</p>"));
    EXPECT_THAT(LogText(), Not(HasSubstr(Password)));

    // Every form an echo can take: CDATA, a comment first, an escaped echo of the request, an
    // attribute, the value inside some other text.
    const std::string echoes[] = {
        "<password><![CDATA[" + Password + "]]></password>",
        "<password><!-- echo -->" + Password + "</password>",
        "<password>x<b/>" + Password + "</password>",
        "<fault>&lt;password&gt;" + Password + "&lt;/password&gt;</fault>",
        "<login password=\"" + Password + "\"/>",
        "<desc>credentials pos/" + Password + " refused</desc>",
    };
    for (const std::string& echo : echoes) {
        rest->Answer = "<Envelope><Body>" + echo + "</Body></Envelope>";
        EXPECT_EQ(Transaction("ZV-1", "[]"), rest->Answer) << "the caller gets the answer as it came";
        EXPECT_THAT(LogText(), Not(HasSubstr(Password))) << echo;
    }

    // Lines that quote such an answer elsewhere (a refusal's text, a SOAP fault), and the texts
    // kept in the database's log, show no password either.
    LogInfo("[TZumvoLogic.HandleFinaliseResponse] %: Invalid Finalise Response : % %", 1, 0,
            "credentials pos/" + Password + " refused");
    LogError("TZumvoLogic.HandleReverseResponse", "(SOAP Fault " + Password + ".xyz: )");
    EXPECT_THAT(LogText(), HasSubstr("Invalid Finalise Response : 0 credentials pos/******** refused"));
    EXPECT_THAT(LogText(), HasSubstr("(SOAP Fault ********.xyz: )"));
    EXPECT_THAT(LogText(), Not(HasSubstr(Password)));
    EXPECT_EQ(MaskedAsInLog("Refused: 1 " + Password + " and Pw-9f3k&amp;"),
              "Refused: 1 ******** and ********&amp;");
}

TEST_F(ZumvoAPITest, FailuresAreLoggedAndLeaveTheResponseEmpty) {
    // Transport error raised by the REST client: the request was logged, the error too.
    rest->Failure = "POST http://voucher.test:8080/pos/services/PosService: Timeout was reached";
    EXPECT_EQ(Advice("FINALISE"), "");
    EXPECT_TRUE(log.Has("[TZumvoAPI.Advice] Error : " + rest->Failure));
    EXPECT_THAT(LogText(), HasSubstr("[TZumvoAPI.Advice] Request : "));
    EXPECT_THAT(LogText(), Not(HasSubstr("[TZumvoAPI.Advice] Response : ")));
    EXPECT_EQ(Transaction("ZV-1", "[]"), "");
    EXPECT_TRUE(log.Has("[TZumvoAPI.Transaction] Error : " + rest->Failure));
    rest->Failure.clear();

    // Products that cannot be read: nothing is sent.
    const int posts = rest->Posts;
    EXPECT_EQ(Transaction("ZV-1", "[{"), "");
    EXPECT_EQ(Transaction("ZV-1", R"({"Code": "A"})"), "");
    EXPECT_EQ(Transaction("ZV-1", R"([{"Code": "A", "Quantity": 1}])"), "");
    EXPECT_EQ(Transaction("ZV-1", R"([{"Code": "A", "Price": 1e300, "Quantity": 1}])"), "");
    // A control character cannot be carried by XML at all.
    EXPECT_EQ(Transaction(std::string("ZV\x01", 3), "[]"), "");
    EXPECT_TRUE(
        log.Has("[TZumvoAPI.Transaction] Error : The value of id cannot be sent: control character 0x01 "
                "is not allowed in XML"));
    EXPECT_EQ(rest->Posts, posts);

    // No REST client in the container.
    host.Container->UnregisterFactory(pallux::IRestClient::IID);
    EXPECT_EQ(Advice("REVERSE"), "");
    EXPECT_TRUE(log.Has("[TZumvoAPI.Advice] Error : Could not create RestClient"));
}

TEST(ZumvoAPIAmounts, PricesAreTruncatedCentsOfTheDecimalValue) {
    EXPECT_EQ(CentsOf(12.5), 1250);
    EXPECT_EQ(CentsOf(1.999), 199);
    EXPECT_EQ(CentsOf(0.29), 29);  // 0.29 * 100 = 28.999999999999996 in binary
    EXPECT_EQ(CentsOf(1.15), 115); // 114.99999999999999
    EXPECT_EQ(CentsOf(4.35), 435); // 434.99999999999994
    EXPECT_EQ(CentsOf(123456.79), 12345679);
    EXPECT_EQ(CentsOf(0.009), 0);
    EXPECT_EQ(CentsOf(0.01), 1); // the smallest price that is a cent
    EXPECT_EQ(CentsOf(-0.01), -1);
    EXPECT_EQ(CentsOf(0), 0);
    EXPECT_EQ(CentsOf(7), 700);
    EXPECT_EQ(CentsOf(-1.999), -199); // toward zero
    EXPECT_EQ(CentsOf(-0.29), -29);
    EXPECT_EQ(CentsOf(99999999999.99), 9999999999999);
    EXPECT_THROW(CentsOf(1e13), std::out_of_range);
    EXPECT_THROW(CentsOf(std::numeric_limits<double>::quiet_NaN()), std::out_of_range);
}

TEST(ZumvoAPIAmounts, ProductNumbersInAnyJsonSpellingGiveTheirValue) {
    const std::string elements = ProductElements(R"([{"Code": "A", "Price": 0e100, "Quantity": 2e0},)"
                                                 R"( {"Code": "B", "Price": 1250e-2, "Quantity": 30E-1},)"
                                                 R"( {"Code": "C", "Price": 626e-327, "Quantity": 1}])");
    EXPECT_THAT(
        elements,
        HasSubstr("<id>A</id>\r\n          <pricePerUnit>0</pricePerUnit>\r\n          <units>2</units>"));
    EXPECT_THAT(
        elements,
        HasSubstr("<id>B</id>\r\n          <pricePerUnit>1250</pricePerUnit>\r\n          <units>3</units>"));
    EXPECT_THAT(elements, HasSubstr("<id>C</id>\r\n          <pricePerUnit>0</pricePerUnit>"));
    EXPECT_THROW(ProductElements(R"([{"Code": "D", "Price": 1e999, "Quantity": 1}])"), EJSONError);
}

TEST(ZumvoAPIAmounts, UnitsRoundHalfToEven) {
    EXPECT_EQ(RoundUnits(2.5), 2);
    EXPECT_EQ(RoundUnits(3.5), 4);
    EXPECT_EQ(RoundUnits(0.5), 0);
    EXPECT_EQ(RoundUnits(2.4999), 2);
    EXPECT_EQ(RoundUnits(2.5001), 3);
    EXPECT_EQ(RoundUnits(-2.5), -2);
    EXPECT_EQ(RoundUnits(-3.5), -4);
    EXPECT_EQ(RoundUnits(-1.2), -1);
    EXPECT_EQ(RoundUnits(4), 4);
    EXPECT_THROW(RoundUnits(std::numeric_limits<double>::infinity()), std::out_of_range);
}

// Answer numbers are read as XML Schema reads an xsd:int: whitespace around it collapsed, an
// optional sign; no fraction, exponent, inner blank or second sign.
TEST(ZumvoAPIAnswers, NumbersReadAsXmlSchemaIntegers) {
    const std::pair<const char*, std::int32_t> good[] = {{"-1", -1},
                                                         {"0", 0},
                                                         {"12", 12},
                                                         {" -1", -1},
                                                         {"-1 ", -1},
                                                         {"+1", 1},
                                                         {"\n\t-1\r\n", -1},
                                                         {"007", 7},
                                                         {"-0", 0},
                                                         {"+0", 0},
                                                         {" +100 ", 100},
                                                         {"2147483647", 2147483647},
                                                         {"-2147483648", -2147483647 - 1}};
    for (const auto& [text, value] : good) {
        SCOPED_TRACE(text);
        ASSERT_TRUE(ReadXsdInt(text).has_value());
        EXPECT_EQ(*ReadXsdInt(text), value);
        EXPECT_EQ(ParseResponseCode(text), value);
    }
    for (const char* bad : {"OK",
                            "",
                            "   ",
                            "-1x",
                            "1.0",
                            "100.0",
                            "1e2",
                            "-",
                            "+",
                            "+-1",
                            "-+1",
                            "++1",
                            "--1",
                            "- 1",
                            "1 2",
                            "99999999999",
                            "2147483648",
                            "0x10",
                            "\v1",
                            "\xC2\xA0"
                            "1"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ReadXsdInt(bad).has_value());
        EXPECT_EQ(ParseResponseCode(bad), 99999);
        EXPECT_EQ(WholeNumberOr(bad, -7), -7);
    }
}

// No advice goes out for a provider number the provider cannot have given: nothing is posted and
// the answer is empty (the caller's "no answer"), the error logged. A REVERSE naming 0 is the
// reversal by reference and goes out.
TEST_F(ZumvoAPITest, NoAdviceNamesANumberThatIsNotPositive) {
    for (const auto& [action, tvTrxID] : {std::pair<std::string, std::int32_t>{"FINALISE", -1},
                                          {"REVERSE", -1},
                                          {"FINALISE", 0},
                                          {"REVERSE", -2147483647 - 1}}) {
        SCOPED_TRACE(action + " " + std::to_string(tvTrxID));
        const int posted = rest->Posts;
        std::string response = "untouched";
        api->Advice("12-5", "9", "12-40", action, tvTrxID, "PAYMENT", response);
        EXPECT_EQ(response, "");
        EXPECT_EQ(rest->Posts, posted);
    }
    EXPECT_THAT(LogText(),
                HasSubstr("[TZumvoAPI.Advice] Error : No FINALISE is sent for provider transaction "
                          "number -1"));
    std::string response;
    api->Advice("12-5", "9", "12-40", "REVERSE", ByReference, "PAYMENT", response);
    EXPECT_EQ(response, rest->Answer);
}

TEST(ZumvoAPIAnswers, MaskingTouchesOnlyPasswordElements) {
    EXPECT_EQ(MaskPasswordElements("<a><password>x</password><passwords>y</passwords><b>password</b></a>"),
              "<a><password>********</password><passwords>y</passwords><b>password</b></a>");
    EXPECT_EQ(MaskPasswordElements("<PassWord>x</PassWord><password/><p:password>z"),
              "<PassWord>********</PassWord><password/><p:password>********");
    EXPECT_EQ(MaskPasswordElements("not xml <password"), "not xml <password");
    EXPECT_EQ(MaskPasswordElements(""), "");
    EXPECT_EQ(MaskPasswordElements("<password><![CDATA[x</password>]]>y</password><b>z</b>"),
              "<password>********</password><b>z</b>")
        << "the content ends at the real closing tag";
    EXPECT_EQ(MaskPasswordElements("<p:Login user='u' p:password = 'x>y' other=\"z\">w</p:Login>"),
              "<p:Login user='u' p:password = '********' other=\"z\">w</p:Login>");
}

TEST(ZumvoAPIAnswers, TheConfiguredPasswordIsMaskedInEveryFormItCanTake) {
    const std::string pw = "a<b&c";
    struct TCase {
        std::string Text, Masked;
    };
    const TCase cases[] = {
        {"raw a<b&c here", "raw ******** here"},
        {"<x>a&lt;b&amp;c</x>", "<x>********</x>"},
        {"&lt;x&gt;a&amp;lt;b&amp;amp;c&lt;/x&gt;", "&lt;x&gt;********&lt;/x&gt;"},
        {"<password>a&lt;b&amp;c</password> and a<b&c", "<password>********</password> and ********"},
        {"nothing to hide", "nothing to hide"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(MaskPassword(c.Text, pw), c.Masked) << c.Text;
    EXPECT_EQ(MaskPassword("<a>x</a>", ""), "<a>x</a>") << "no password: only the elements";
    // A text is logged without a masked copy only when masking is sure to change nothing.
    for (const TCase& c : cases)
        EXPECT_TRUE(MayHoldPassword(c.Text, pw) || c.Text == c.Masked) << c.Text;
    for (const char* text : {"<a><passwords>y</passwords><b>password</b><password/></a>", "not xml <PassWord",
                             "<p:Login p:password='x'/>"})
        EXPECT_TRUE(MayHoldPassword(text, "")) << text;
    EXPECT_FALSE(MayHoldPassword("<a>nothing to hide</a>", pw));
    EXPECT_FALSE(MayHoldPassword("", ""));
}

// Any text a cashier or a QR code can deliver comes out of the envelope as it went in, and the
// logged form never shows the password.
TEST(ZumvoAPIEnvelope, ArbitraryValuesRoundTripThroughTheEnvelope) {
    const std::string alphabet = "<>&\"'/=!?[]-;#%: \t\n\rabcXYZ019\xC3\xA9\xE2\x82\xAC";
    std::mt19937 random(20261207);
    auto text = [&] {
        std::string s;
        const std::size_t n = random() % 24;
        for (std::size_t i = 0; i < n; ++i)
            s += alphabet[random() % alphabet.size()];
        return s;
    };
    for (int round = 0; round < 3000; ++round) {
        const TSoapCaller caller{text(), "pw" + text(), 17, text()};
        const std::string token = text(), basket = text(), trx = text();
        const std::string envelope =
            TransactionEnvelope(caller, {basket, "9", trx, token, "ZUMVO", 100, 100, "PAYMENT", ""});
        pugi::xml_document doc;
        ASSERT_TRUE(doc.load_string(envelope.c_str(), pugi::parse_default | pugi::parse_ws_pcdata))
            << envelope;
        const pugi::xml_node request =
            doc.first_child().child("soapenv:Body").child("pos:transaction").child("request");
        ASSERT_EQ(request.child("token").child_value("id"), token) << envelope;
        ASSERT_EQ(request.child("apiCredentials").child_value("password"), caller.Password) << envelope;
        ASSERT_EQ(request.child("storeTrxDetails").child_value("posId"), caller.PosID) << envelope;
        ASSERT_EQ(request.child("storeTrxDetails").child_value("basketId"), basket) << envelope;
        ASSERT_EQ(request.child("storeTrxDetails").child_value("trxId"), trx) << envelope;
        int elements = 0;
        for (const pugi::xml_node child : request.children())
            elements += child.type() == pugi::node_element;
        ASSERT_EQ(elements, 6) << envelope;

        const std::string masked = MaskPasswordElements(envelope);
        pugi::xml_document maskedDoc;
        ASSERT_TRUE(maskedDoc.load_string(masked.c_str()));
        ASSERT_STREQ(maskedDoc.first_child()
                         .child("soapenv:Body")
                         .child("pos:transaction")
                         .child("request")
                         .child("apiCredentials")
                         .child_value("password"),
                     MaskedPassword);
    }
}
