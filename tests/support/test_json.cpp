#include "JsonDocument.h"

#include <cmath>
#include <limits>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace zumvo;
using ::testing::HasSubstr;

TEST(JsonDocument, DuplicateNamesAreKeptAndLookupFindsFirstIgnoringCase) {
    auto doc = TJSONDocument::Parse(R"({"Code":1,"code":2,"CODE":3})");
    EXPECT_EQ(doc._Count(), 3);
    EXPECT_EQ(doc["code"].AsInteger(), 1);
    EXPECT_EQ(doc["CODE"].AsInteger(), 1);
    EXPECT_EQ(doc.MemberName(1), "code");
    EXPECT_EQ(doc[2].AsInteger(), 3);

    TJSONDocument built;
    built.Add("product", "a");
    built.Add("Product", "b");
    built.Add("product", 7);
    EXPECT_EQ(built.ToJSON(), R"({"product":"a","Product":"b","product":7})");
    EXPECT_EQ(built["PRODUCT"].AsString(), "a");
    EXPECT_TRUE(built.Exists("pRoDuCt"));
    EXPECT_FALSE(built.Exists("products"));
}

TEST(JsonDocument, MissingValuesReadAsNullWithoutCrashing) {
    auto doc = TJSONDocument::Parse(R"({"a":{"b":[1,2]},"s":"x","n":null})");
    EXPECT_TRUE(doc["missing"].IsNull());
    EXPECT_TRUE(doc["missing"]["b"][3]["c"].IsNull());
    EXPECT_TRUE(doc["a"]["b"][2].IsNull());
    EXPECT_TRUE(doc["a"]["b"][-1].IsNull());
    EXPECT_TRUE(doc["s"]["x"].IsNull());
    EXPECT_TRUE(doc["s"][0].IsNull());
    EXPECT_EQ(doc["missing"]._Count(), 0);
    EXPECT_EQ(doc["missing"].ToJSON(), "null");
    EXPECT_EQ(doc.MemberName(99), "");

    // An explicit null exists; a missing member does not. Neither converts to text.
    EXPECT_TRUE(doc.Exists("n"));
    EXPECT_TRUE(doc["n"].IsNull());
    EXPECT_FALSE(doc.Exists("missing"));
    try {
        (void)doc["missing"].AsString();
        FAIL() << "null converted to text";
    } catch (const EJSONError& e) {
        EXPECT_THAT(e.what(), HasSubstr("does not convert to text"));
    }
    EXPECT_THROW((void)doc["a"].AsString(), EJSONError);
    EXPECT_EQ(doc["missing"].AsString("-"), "-");
}

TEST(JsonDocument, EmptyContainersAndIndexedAccess) {
    EXPECT_EQ(TJSONDocument().ToJSON(), "{}");
    EXPECT_EQ(TJSONDocument::Parse(" { } ").ToJSON(), "{}");
    EXPECT_EQ(TJSONDocument::NewArray().ToJSON(), "[]");
    EXPECT_EQ(TJSONDocument::NewObject()._Count(), 0);

    auto doc = TJSONDocument::Parse(R"({"x":10,"y":[true,"t",{},[]],"z":{}})");
    ASSERT_EQ(doc._Count(), 3);
    EXPECT_EQ(doc[0].AsInteger(), 10);
    EXPECT_EQ(doc.MemberName(2), "z");
    EXPECT_TRUE(doc[2].IsObject());
    auto y = doc["y"];
    ASSERT_EQ(y._Count(), 4);
    EXPECT_TRUE(y[0].AsBoolean());
    EXPECT_EQ(y[1].AsString(), "t");
    EXPECT_EQ(y[2].ToJSON(), "{}");
    EXPECT_EQ(y[3].ToJSON(), "[]");
    EXPECT_EQ(y.MemberName(0), ""); // arrays have no member names
    EXPECT_EQ(doc.ToJSON(), R"({"x":10,"y":[true,"t",{},[]],"z":{}})");
}

TEST(JsonDocument, UnicodeAndEscapesRoundTrip) {
    const std::string text = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \"q\" back\\slash\nline\ttab";
    auto doc = TJSONDocument::Parse(R"({"s":"caf\u00e9 \u20AC \ud83d\ude00 \"q\" back\\slash\nline\ttab"})");
    EXPECT_EQ(doc["s"].AsString(), text);

    TJSONDocument built;
    built.Add(std::string("k\"ey\x01"), text);
    built.Add("nul", std::string("a\0b", 3));
    auto again = TJSONDocument::Parse(built.ToJSON());
    EXPECT_EQ(again.MemberName(0), "k\"ey\x01");
    EXPECT_EQ(again[0].AsString(), text);
    EXPECT_EQ(again["nul"].AsString(), std::string("a\0b", 3));
    EXPECT_EQ(again.ToJSON(), built.ToJSON());
}

TEST(JsonDocument, InvalidTextRaisesClearError) {
    for (const char* bad : {"", "{", R"({"a":})", R"({"a":1} x)", "[1,2", "{'a':1}", "nul"}) {
        try {
            TJSONDocument::Parse(bad);
            ADD_FAILURE() << "accepted: " << bad;
        } catch (const EJSONError& e) {
            EXPECT_THAT(e.what(), HasSubstr("offset")) << bad;
        }
    }
    try {
        TJSONDocument::Parse(R"({"a":})");
        ADD_FAILURE() << "accepted a member without a value";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Invalid JSON at offset 5: Invalid value.");
    }
    // Hostile nesting is refused instead of exhausting the stack later.
    EXPECT_THROW(TJSONDocument::Parse(std::string(100000, '[') + std::string(100000, ']')), EJSONError);
    EXPECT_NO_THROW(TJSONDocument::Parse(std::string(100, '[') + std::string(100, ']')));
}

// Every number is read to the nearest double (or exactly, when whole and within 64 bits); one
// beyond the double range is an error, one below it reads as 0, never as some other value.
TEST(JsonDocument, NumbersReadAsTheirNearestValueOrAClearError) {
    struct TCase {
        const char* Text;
        const char* Written; // ToJSON of the value
    };
    const TCase cases[] = {
        {"0e100", "0.0"},
        {"0e200", "0.0"},
        {"0e-23", "0.0"},
        {"-0e5", "-0.0"},
        {"626e-327", "0.0"},
        {"-1e-400", "-0.0"},
        {"5e-324", "5e-324"},
        {"0.29", "0.29"},
        {"12.50", "12.5"},
        {"1e2", "100.0"},
        {"-0", "0"},
        {"42", "42"},
        {"-9223372036854775808", "-9223372036854775808"},
        {"18446744073709551615", "18446744073709551615"},
        {"18446744073709551616", "18446744073709553000.0"},
        {"1.7976931348623157e308", "1.7976931348623157e308"},
        {"2.2250738585072011e-308", "2.225073858507201e-308"},
        {"0.1000000000000000055511151231257827", "0.1"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Text);
        const auto doc = TJSONDocument::Parse(std::string("[") + c.Text + "]");
        EXPECT_TRUE(doc[0].IsNumber());
        EXPECT_EQ(doc[0].ToJSON(), c.Written);
        EXPECT_EQ(doc[0].AsString("fallback"), c.Written);
        EXPECT_EQ(TJSONDocument::Parse(doc.ToJSON()).ToJSON(), doc.ToJSON()) << "written text reads back";
    }
    EXPECT_EQ(TJSONDocument::Parse(R"({"p": 0e100})")["p"].AsFloat(), 0.0);
    EXPECT_EQ(TJSONDocument::Parse(R"({"p": 626e-327})")["p"].AsInteger(-1), 0);

    for (const char* tooLarge : {"1.8e308", "-2e308", "1e400", "1" /* then 400 zeros */}) {
        std::string text = tooLarge;
        if (text == "1")
            text += std::string(400, '0');
        try {
            TJSONDocument::Parse("{\"p\": " + text + "}");
            ADD_FAILURE() << "accepted " << text;
        } catch (const EJSONError& e) {
            EXPECT_THAT(e.what(), HasSubstr("Invalid JSON at offset")) << text;
        }
    }
    try {
        TJSONDocument::Parse(R"({"p": 1.8e308})");
    } catch (const EJSONError& e) {
        EXPECT_STREQ(e.what(), "Invalid JSON at offset 6: the number 1.8e308 is too large");
    }
}

TEST(JsonDocument, TypedReadsAndFallbacks) {
    auto doc = TJSONDocument::Parse(
        R"({"neg":"-1","blank":" 12 ","frac":"12.5","word":"abc","i":42,"whole":12.0,"half":12.5,)"
        R"("big":3000000000,"t":true,"f":false,"ts":"TRUE","nan":"nan","exp":"1e2","empty":""})");
    EXPECT_EQ(doc["neg"].AsInteger(0), -1);
    EXPECT_EQ(doc["blank"].AsInteger(99999), 99999);
    EXPECT_EQ(doc["frac"].AsInteger(99999), 99999);
    EXPECT_EQ(doc["word"].AsInteger(-1), -1);
    EXPECT_EQ(doc["empty"].AsInteger(-1), -1);
    EXPECT_EQ(doc["i"].AsInteger(0), 42);
    EXPECT_EQ(doc["whole"].AsInteger(0), 12);
    EXPECT_EQ(doc["half"].AsInteger(0), 0);
    EXPECT_EQ(doc["big"].AsInteger(-5), -5);
    EXPECT_EQ(doc["big"].AsInt64(), 3000000000LL);
    EXPECT_EQ(doc["t"].AsInteger(7), 7);
    EXPECT_EQ(doc["missing"].AsInteger(7), 7);
    EXPECT_THROW((void)doc["word"].AsInteger(), EJSONError);

    EXPECT_DOUBLE_EQ(doc["frac"].AsFloat(), 12.5);
    EXPECT_DOUBLE_EQ(doc["exp"].AsFloat(), 100.0);
    EXPECT_DOUBLE_EQ(doc["i"].AsFloat(), 42.0);
    EXPECT_DOUBLE_EQ(doc["nan"].AsFloat(-1), -1);
    EXPECT_DOUBLE_EQ(doc["blank"].AsFloat(-1), -1);
    EXPECT_THROW((void)doc["t"].AsFloat(), EJSONError);

    EXPECT_EQ(doc["i"].AsString(), "42");
    EXPECT_EQ(doc["half"].AsString(), "12.5");
    EXPECT_EQ(doc["t"].AsString(), "true");
    EXPECT_TRUE(doc["t"].AsBoolean());
    EXPECT_FALSE(doc["f"].AsBoolean());
    EXPECT_TRUE(doc["ts"].AsBoolean());
    EXPECT_TRUE(doc["i"].AsBoolean());
    EXPECT_TRUE(doc["word"].AsBoolean(true));
    EXPECT_THROW((void)doc["word"].AsBoolean(), EJSONError);
    EXPECT_TRUE(doc["i"].IsInteger());
    EXPECT_FALSE(doc["half"].IsInteger());
}

TEST(JsonDocument, WritesKeepNumberKindsAndRefuseWrongTargets) {
    TJSONDocument doc;
    doc.Add("int", 5);
    doc.Add("long", std::int64_t{-9000000000});
    doc.Add("ulong", std::numeric_limits<std::uint64_t>::max());
    doc.Add("dbl", 2.5);
    doc.Add("flag", false);
    doc.AddNull("none");
    auto arr = doc.AddArray("arr");
    arr.Append(1);
    arr.Append("two");
    arr.AppendObject().Add("k", "v");
    EXPECT_EQ(doc.ToJSON(), R"({"int":5,"long":-9000000000,"ulong":18446744073709551615,"dbl":2.5,)"
                            R"("flag":false,"none":null,"arr":[1,"two",{"k":"v"}]})");

    EXPECT_THROW(arr.Add("x", 1), EJSONError);
    EXPECT_THROW(doc.Append(1), EJSONError);
    EXPECT_THROW(doc["int"].Add("x", 1), EJSONError);
    EXPECT_THROW(doc["missing"].Add("x", "y"), EJSONError);
    EXPECT_THROW(doc.Add("nan", std::nan("")), EJSONError);
    EXPECT_THROW(arr.Append(std::numeric_limits<double>::infinity()), EJSONError);

    const TJSONDocument& readOnly = doc;
    EXPECT_THROW(readOnly.Root().Add("x", 1), EJSONError);
    EXPECT_THROW(readOnly["arr"].Append(1), EJSONError);
    EXPECT_EQ(doc.ToJSON(), TJSONDocument::Parse(doc.ToJSON()).ToJSON()); // nothing half-written
}

TEST(JsonDocument, SetReplacesFirstOfDuplicatesOrAdds) {
    auto doc = TJSONDocument::Parse(R"({"a":1,"A":2,"obj":{"deep":{"x":1}}})");
    doc.Set("A", "one");
    doc.Set("b", 3);
    EXPECT_EQ(doc.ToJSON(), R"({"a":"one","A":2,"obj":{"deep":{"x":1}},"b":3})");

    // A handle below a replaced value must not reach into the discarded subtree.
    auto deep = doc["obj"]["deep"];
    EXPECT_EQ(deep["x"].AsInteger(), 1);
    doc.Set("obj", 0);
    EXPECT_TRUE(deep.IsNull());
    EXPECT_EQ(deep._Count(), 0);

    // Replacing a value with a copy of its own child.
    auto doc2 = TJSONDocument::Parse(R"({"o":{"inner":[1,2]}})");
    doc2.Set("o", doc2["o"]["inner"]);
    EXPECT_EQ(doc2.ToJSON(), R"({"o":[1,2]})");
}

TEST(JsonDocument, HandlesStayValidWhileTheTreeGrows) {
    TJSONDocument doc;
    auto items = doc.AddArray("Items");
    auto header = doc.AddObject("Header");
    for (int i = 0; i < 200; ++i) {
        doc.Add("filler" + std::to_string(i), i); // grows the root's member storage
        auto row = items.AppendObject();          // grows the array's storage
        row.Add("Line", i);
        header.Set("Last", i);
    }
    ASSERT_EQ(items._Count(), 200);
    EXPECT_EQ(items[199]["Line"].AsInteger(), 199);
    EXPECT_EQ(doc["Items"][57]["line"].AsInteger(), 57);
    EXPECT_EQ(header.ToJSON(), R"({"Last":199})");

    // A moved document keeps its handles.
    TJSONDocument moved = std::move(doc);
    items.Append("end");
    EXPECT_EQ(moved["Items"][200].AsString(), "end");
}

TEST(JsonDocument, DeepCopyBetweenDocumentsIsIndependent) {
    TJSONDocument target;
    {
        auto source = TJSONDocument::Parse(R"({"vsp":{"name":"Shop","codes":["a","b"]},"n":1})");
        target.Add("copy", source["vsp"]);
        target.Add("whole", source);
        target.Add("none", source["missing"]);
        source["vsp"]["codes"].Append("c");
        source["vsp"].Set("name", "changed");
    } // the source is gone; the copies must not refer into it
    EXPECT_EQ(target.ToJSON(), R"({"copy":{"name":"Shop","codes":["a","b"]},)"
                               R"("whole":{"vsp":{"name":"Shop","codes":["a","b"]},"n":1},"none":null})");

    target.Add("self", target.Root());
    EXPECT_EQ(target["self"]["copy"]["codes"][1].AsString(), "b");
    EXPECT_EQ(target["self"]._Count(), 3);

    auto clone = target.Clone();
    clone.Set("copy", "x");
    EXPECT_TRUE(target["copy"].IsObject());
    auto part = TJSONDocument::CopyOf(target["copy"]["codes"]);
    EXPECT_EQ(part.ToJSON(), R"(["a","b"])");
}
