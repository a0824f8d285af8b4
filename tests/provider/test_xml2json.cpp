#include "SimpleXMLtoJSON.h"

#include <algorithm>
#include <memory>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace zumvo;
using ::testing::HasSubstr;

namespace {

// Converts the children of the document element of xml, parsed with the given options.
TJSONDocument ConvertWith(const std::string& xml, unsigned options) {
    pugi::xml_document tree;
    auto parsed = tree.load_string(xml.c_str(), options);
    EXPECT_TRUE(parsed) << parsed.description();
    TJSONDocument doc;
    XmlToJson(tree.document_element(), doc.Root());
    return doc;
}

// Converts xml parsed as answers are; parsed with pugixml's defaults it must convert alike.
TJSONDocument Convert(const std::string& xml) {
    TJSONDocument answer = ConvertWith(xml, AnswerParseOptions);
    EXPECT_EQ(answer.ToJSON(), ConvertWith(xml, pugi::parse_default | pugi::parse_ws_pcdata_single).ToJSON())
        << xml;
    return answer;
}

std::string Envelope(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
           "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">\r\n"
           "<soap:Body>" +
           body + "</soap:Body>\r\n</soap:Envelope>";
}

std::string ErrorOf(const std::string& xml, const char* answer = "transactionResponse") {
    try {
        ReadSoapAnswer(xml, answer);
    } catch (const EXmlError& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

TEST(XmlToJson, LeavesContainersAndRepeatedSiblings) {
    auto doc = Convert("<response><responseCode>-1</responseCode>"
                       "<product><id>A1</id></product><product><id>B2</id></product></response>");
    ASSERT_EQ(doc._Count(), 3);
    EXPECT_EQ(doc.MemberName(0), "responseCode");
    EXPECT_TRUE(doc[0].IsString());
    EXPECT_EQ(doc[0].AsString(), "-1");
    EXPECT_EQ(doc.MemberName(1), "product");
    EXPECT_EQ(doc.MemberName(2), "product");
    EXPECT_EQ(doc["product"]["id"].AsString(), "A1");
    EXPECT_EQ(doc[2]["id"].AsString(), "B2");
    EXPECT_EQ(doc.ToJSON(), R"({"responseCode":"-1","product":{"id":"A1"},"product":{"id":"B2"}})");

    EXPECT_EQ(Convert("<response/>").ToJSON(), "{}");
    EXPECT_EQ(Convert("<response>   </response>")._Count(), 0);
}

TEST(XmlToJson, NamesAttributesEmptyElementsAndEntities) {
    auto doc = Convert(R"(<r xmlns:ns2="urn:x"><ns2:responseCode>0</ns2:responseCode>)"
                       R"(<desc lang="en" ns2:kind="k">Refused</desc><empty/><blank></blank><space> </space>)"
                       R"(<ent>&lt;a&gt; &amp; &quot;b&quot; &apos;c&apos; &#233;&#x20AC;</ent>)"
                       R"(<cdata>x<![CDATA[<not> & markup]]>y</cdata></r>)");
    EXPECT_EQ(doc.ToJSON(), "{\"responseCode\":\"0\",\"desc\":\"Refused\",\"empty\":\"\",\"blank\":\"\","
                            "\"space\":\" \",\"ent\":\"<a> & \\\"b\\\" 'c' \xC3\xA9\xE2\x82\xAC\","
                            "\"cdata\":\"x<not> & markupy\"}");
    EXPECT_EQ(doc["RESPONSECODE"].AsString(), "0");
}

TEST(XmlToJson, MixedContentKeepsTextRunsAsUnnamedMembers) {
    auto doc = Convert("<r><note>Hello <b>dear</b> customer<!-- c --> again<br/>\n  </note>"
                       "<list>\n  <i>1</i>\n  <i>2</i>\n</list></r>");
    EXPECT_EQ(doc["note"].ToJSON(), R"({"":"Hello ","b":"dear","":" customer again","br":""})");
    EXPECT_EQ(doc["list"].ToJSON(), R"({"i":"1","i":"2"})");

    // Blank text between elements is never a member, also when the parser keeps it.
    for (const unsigned options : {AnswerParseOptions, pugi::parse_default | pugi::parse_ws_pcdata_single,
                                   pugi::parse_default | pugi::parse_ws_pcdata}) {
        EXPECT_EQ(ConvertWith("<r><a>1</a>&#32;<b>2</b></r>", options).ToJSON(), R"({"a":"1","b":"2"})");
        EXPECT_EQ(ConvertWith("<r>\r\n <a>1</a>\n\t<b>2</b> </r>", options).ToJSON(), R"({"a":"1","b":"2"})");
    }
}

TEST(XmlToJson, AppendsToTargetAndRefusesBadInput) {
    pugi::xml_document tree;
    ASSERT_TRUE(tree.load_string("<r><a>1</a></r>"));
    TJSONDocument doc;
    doc.Add("before", true);
    XmlToJson(tree.document_element(), doc.Root());
    XmlToJson(tree.document_element(), doc.AddObject("again"));
    EXPECT_EQ(doc.ToJSON(), R"({"before":true,"a":"1","again":{"a":"1"}})");

    auto array = TJSONDocument::NewArray();
    EXPECT_THROW(XmlToJson(tree.document_element(), array.Root()), EJSONError);

    // Deep nesting is refused without touching the target.
    std::string deep;
    for (int i = 0; i < 20000; ++i)
        deep += "<d>";
    deep += "x";
    for (int i = 0; i < 20000; ++i)
        deep += "</d>";
    ASSERT_TRUE(tree.load_string(deep.c_str()));
    EXPECT_THROW(XmlToJson(tree.document_element(), doc.Root()), EXmlError);
    EXPECT_EQ(doc._Count(), 3);
}

TEST(ReadSoapAnswer, PrefixedTransactionAnswer) {
    const std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                            "<S:Envelope xmlns:S=\"http://schemas.xmlsoap.org/soap/envelope/\">\r\n"
                            "  <S:Header/>\r\n"
                            "  <S:Body>\r\n"
                            "    <ns2:transactionResponse xmlns:ns2=\"http://pos.trelvan.example/\">\r\n"
                            "      <response>\r\n"
                            "        <amountToSettle>1500</amountToSettle>\r\n"
                            "        <loyalty><earned>12</earned><name>Stars</name></loyalty>\r\n"
                            "        <responseCode>-1</responseCode>\r\n"
                            "        <responseDesc>Approved</responseDesc>\r\n"
                            "        <totalAmountProcessed>2000</totalAmountProcessed>\r\n"
                            "        <tvTrxId>987654</tvTrxId>\r\n"
                            "        <vsp><name>Caf&#233; Partner</name><responseCode>0</responseCode>"
                            "<responseDesc>OK</responseDesc></vsp>\r\n"
                            "      </response>\r\n"
                            "      <response><responseCode>7</responseCode></response>\r\n"
                            "    </ns2:transactionResponse>\r\n"
                            "  </S:Body>\r\n"
                            "</S:Envelope>\r\n";
    auto doc = ReadSoapAnswer(xml, "transactionResponse");
    EXPECT_EQ(doc._Count(), 7);
    EXPECT_EQ(doc["responseCode"].AsString(), "-1");
    EXPECT_EQ(doc["responseCode"].AsInteger(99999), -1);
    EXPECT_EQ(doc["tvTrxId"].AsInteger(-1), 987654);
    EXPECT_EQ(doc["totalAmountProcessed"].AsInteger(0) - doc["amountToSettle"].AsInteger(0), 500);
    ASSERT_TRUE(doc.Exists("vsp"));
    EXPECT_EQ(doc["vsp"]["name"].AsString(), "Caf\xC3\xA9 Partner");
    EXPECT_EQ(doc["loyalty"]["earned"].AsString(), "12");
    // The answer element is found whatever its case.
    EXPECT_EQ(ReadSoapAnswer(xml, "TRANSACTIONRESPONSE")["responseDesc"].AsString(), "Approved");

    auto advice = ReadSoapAnswer(Envelope("<p:adviseResponse xmlns:p=\"urn:p\"><response>"
                                          "<responseCode>-1</responseCode><responseDesc>Done</responseDesc>"
                                          "</response></p:adviseResponse>"),
                                 "adviseResponse");
    EXPECT_EQ(advice.ToJSON(), R"({"responseCode":"-1","responseDesc":"Done"})");
}

// An answer's names and texts may refer to the document's own copy of the text: nothing of the
// caller's text is referred to, and copies into other documents own their characters (the
// sanitizer build sees any read of freed memory).
TEST(ReadSoapAnswer, DocumentOutlivesTheTextAndCopiesOutliveTheDocument) {
    auto text = std::make_unique<std::string>(
        Envelope("<p:transactionResponse xmlns:p=\"urn:p\"><response><tvTrxId>987654</tvTrxId>"
                 "<vsp><name>Partner &amp; Co</name><kind>a<![CDATA[b]]>c</kind></vsp>"
                 "</response></p:transactionResponse>"));
    TJSONDocument answer = ReadSoapAnswer(*text, "transactionResponse");
    const std::string expected = R"({"tvTrxId":"987654","vsp":{"name":"Partner & Co","kind":"abc"}})";
    std::fill(text->begin(), text->end(), 'x');
    text.reset();
    EXPECT_EQ(answer.ToJSON(), expected);

    TJSONDocument vsp = TJSONDocument::CopyOf(answer["vsp"]);
    TJSONDocument clone = answer.Clone();
    TJSONDocument other;
    other.Add("copied", answer["vsp"]);
    TJSONDocument moved = std::move(answer);
    EXPECT_EQ(moved.ToJSON(), expected);
    moved = TJSONDocument();
    EXPECT_EQ(vsp.ToJSON(), R"({"name":"Partner & Co","kind":"abc"})");
    EXPECT_EQ(clone.ToJSON(), expected);
    EXPECT_EQ(other["copied"]["name"].AsString(), "Partner & Co");
}

TEST(ReadSoapAnswer, Latin1AnswerIsDecodedToUtf8) {
    auto doc = ReadSoapAnswer("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
                              "<E><Body><transactionResponse><response><responseDesc>Refus\xE9"
                              "</responseDesc></response></transactionResponse></Body></E>",
                              "transactionResponse");
    EXPECT_EQ(doc["responseDesc"].AsString(), "Refus\xC3\xA9");
}

TEST(ReadSoapAnswer, MalformedTextFails) {
    for (std::string bad :
         {std::string(), std::string("not xml at all"),
          Envelope("<transactionResponse><response><responseCode>-1</responseCode>"),
          Envelope("<transactionResponse><response><a>1</b></response></transactionResponse>"),
          std::string("<html><body><h1>500 Internal Server Error</h1><hr></body></html>")}) {
        EXPECT_THAT(ErrorOf(bad), HasSubstr("Invalid XML at offset")) << bad;
    }
    EXPECT_THAT(ErrorOf(Envelope("<transactionResponse><response/></transactionResponse>").substr(0, 120)),
                HasSubstr("Invalid XML"));
}

TEST(ReadSoapAnswer, MissingPathFailsNamingTheElement) {
    EXPECT_EQ(ErrorOf("<Envelope><Header/></Envelope>"), "The answer has no Body element");
    EXPECT_EQ(ErrorOf(Envelope("<adviseResponse><response/></adviseResponse>")),
              "The answer has no transactionResponse element");
    EXPECT_EQ(ErrorOf(Envelope("<transactionResponse><responseCode>-1</responseCode></transactionResponse>")),
              "The answer has no response element in transactionResponse");
    // A well-formed error page has no answer path either.
    EXPECT_EQ(ErrorOf("<html><body><p>Service unavailable</p></body></html>"),
              "The answer has no transactionResponse element");

    const std::string fault = Envelope("<soap:Fault><faultcode>soap:Server</faultcode>"
                                       "<faultstring>Invalid credentials</faultstring></soap:Fault>");
    EXPECT_EQ(ErrorOf(fault, "adviseResponse"),
              "The answer has no adviseResponse element (SOAP Fault soap:Server: Invalid credentials)");
}

// What a message quotes of a provider's text: blanks folded, control characters shown as '?',
// cut on a whole UTF-8 character.
TEST(ReadSoapAnswer, FaultTextsAreShownFoldedAndShortened) {
    EXPECT_EQ(ShownText("  Store\r\n\t closed  ", 100), "Store closed");
    EXPECT_EQ(ShownText("a\x01"
                        "b\x7F",
                        100),
              "a?b?");
    EXPECT_EQ(ShownText("abcdef", 4), "abcd...");
    EXPECT_EQ(ShownText("ab\xC3\xA9\xC3\xA9", 3), "ab..."); // é is two bytes: not cut in half
    EXPECT_EQ(ShownText("ab\xC3\xA9\xC3\xA9", 4), "ab\xC3\xA9...");
    EXPECT_EQ(ShownText("<b>x</b> &amp;", 100), "<b>x</b> &amp;") << "shown as it is, never as markup";

    EXPECT_EQ(SoapFaultSummary(Envelope("<soap:Fault><faultcode>soap:Client</faultcode>"
                                        "<faultstring>Bad\nrequest &amp; more</faultstring></soap:Fault>")),
              "soap:Client: Bad request & more");
    EXPECT_EQ(SoapFaultSummary(Envelope("<transactionResponse/>")), "");
    EXPECT_EQ(SoapFaultSummary("<html>500</html"), "");
    EXPECT_EQ(SoapFaultSummary(""), "");
}
