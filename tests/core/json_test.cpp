#include "core/json.h"

#include <gtest/gtest.h>

#include "core/tool_args.h"
#include "core/tool_error.h"

namespace {

Json args(const std::string& text) { return *JSON::decode(text); }

TEST(JsonEncode, OnlyObjectsAndArraysAreDocuments) {
    EXPECT_EQ(JSON::encode(Json("text")), "null");
    EXPECT_EQ(JSON::encode(Json(42)), "null");
    EXPECT_EQ(JSON::encode(Json(nullptr)), "null");
    EXPECT_EQ(JSON::encode(Json::array()), "[]");
    EXPECT_EQ(JSON::encode(Json::object()), "{}");
}

TEST(JsonEncode, SlashesStayPlainAndCompactHasNoWhitespace) {
    Json v{{"url", "https://kestro.io/a/b"}, {"n", Json::array({1, 2})}};
    std::string text = JSON::encode(v);
    EXPECT_NE(text.find("\"https://kestro.io/a/b\""), std::string::npos);
    EXPECT_EQ(text.find(' '), std::string::npos);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    std::string pretty = JSON::encode(v, true);
    EXPECT_NE(pretty.find('\n'), std::string::npos);
    EXPECT_EQ(*JSON::decode(pretty), v);
}

TEST(JsonEncode, NonFiniteNumbersAndBrokenUtf8GiveNull) {
    EXPECT_EQ(JSON::encode(Json{{"x", std::numeric_limits<double>::infinity()}}), "null");
    EXPECT_EQ(JSON::encode(Json::array({std::nan("")})), "null");
    EXPECT_EQ(JSON::encode(Json{{"x", std::string("\xff\xfe")}}), "null");
}

// Strings that look like layout, escapes at the end of a string, empty
// containers at every depth, numbers of every kind.
Json trickyDocument() {
    return Json{{"files", Json::array({Json{{"name", "a \"b\" c\\"}, {"size", 0}},
                                       Json{{"name", "ligne\nsuivante\t  fin "}, {"size", -1.5}},
                                       Json{{"name", "référence décor \u0001 \\\""}, {"size", 1e300}}})},
                {"empty", Json::object()},
                {"none", Json::array({Json::array(), Json::object(), nullptr, true, false})},
                {" spaced key ", "{ \"x\": [ 1, 2 ] }"},
                {"big", 18446744073709551615ull},
                {"negative", -9223372036854775807ll}};
}

TEST(JsonEncode, TheCompactTextIsTheIndentedTextWithoutItsLayout) {
    for (const Json& value : {trickyDocument(), Json::object(), Json::array(), Json::array({Json::object()})})
        EXPECT_EQ(JSON::withoutLayout(JSON::encode(value, true)), JSON::encode(value)) << JSON::encode(value);
    // A text cut after a backslash (never written by encode) is read safely.
    EXPECT_EQ(JSON::withoutLayout("[\"a\\"), "[\"a\\");
}

TEST(JsonDecode, AcceptsOnlyStrictObjectsAndArrays) {
    EXPECT_FALSE(JSON::decode("42"));
    EXPECT_FALSE(JSON::decode("\"alone\""));
    EXPECT_FALSE(JSON::decode("true"));
    EXPECT_FALSE(JSON::decode(""));
    EXPECT_FALSE(JSON::decode("{\"a\":1,}"));
    EXPECT_FALSE(JSON::decode("{\"a\":\"\xff\"}"));
    EXPECT_FALSE(JSON::decode(std::string("{\"a\":1}\0", 8)));
    EXPECT_EQ(*JSON::decode("[]"), Json::array());
    EXPECT_EQ((*JSON::decode("{\"é\":\"→\"}"))["é"], "→");
}

TEST(JsonDecode, RefusesAbsurdNestingButKeepsBracketsInStrings) {
    EXPECT_FALSE(JSON::decode(std::string(100000, '[') + std::string(100000, ']')));
    std::string deepButFine = std::string(JSON::kMaxDepth, '[') + std::string(JSON::kMaxDepth, ']');
    EXPECT_TRUE(JSON::decode(deepButFine));
    EXPECT_TRUE(JSON::decode("{\"s\":\"" + std::string(5000, '[') + "\\\"\"}"));
}

TEST(IntArg, ReadsIntegersNumbersAndDigitStrings) {
    Json a = args(R"({"s":"12","p":"+12","m":"-0","neg":"-42","i":7,"f":7.9,"nf":-7.9,"w":7.0,
                     "big":"99999999999999999999","max":"9223372036854775807","min":"-9223372036854775808"})");
    EXPECT_EQ(intArg(a, "s"), 12);
    EXPECT_EQ(intArg(a, "p"), 12);
    EXPECT_EQ(intArg(a, "m"), 0);
    EXPECT_EQ(intArg(a, "neg"), -42);
    EXPECT_EQ(intArg(a, "i"), 7);
    EXPECT_EQ(intArg(a, "f"), 7);
    EXPECT_EQ(intArg(a, "nf"), -7);
    EXPECT_EQ(intArg(a, "w"), 7);
    EXPECT_EQ(intArg(a, "big"), std::nullopt);
    EXPECT_EQ(intArg(a, "max"), INT64_MAX);
    EXPECT_EQ(intArg(a, "min"), INT64_MIN);
}

TEST(IntArg, MalformedOrOtherTypesAreAbsent) {
    Json a = args(R"({"sp":" 12","tr":"12 ","dec":"1.5","exp":"1e3","plus":"+","minus":"-","empty":"",
                     "pm":"+-1","null":null,"arr":[1],"obj":{},"huge":1e300,"b":true,"u":18446744073709551615})");
    for (const char* key : {"sp", "tr", "dec", "exp", "plus", "minus", "empty", "pm", "null", "arr", "obj", "huge",
                            "b", "u", "absent"})
        EXPECT_EQ(intArg(a, key), std::nullopt) << key;
    EXPECT_EQ(intArg(Json::array(), "x"), std::nullopt);
}

TEST(StrArg, StringsUnchangedIntegralNumbersAsText) {
    Json a = args(R"({"s":"  kept  ","e":"","n":42,"neg":-7,"w":42.0,"f":4.2,"b":true,"null":null,"o":{}})");
    EXPECT_EQ(strArg(a, "s"), "  kept  ");
    EXPECT_EQ(strArg(a, "e"), "");
    EXPECT_EQ(strArg(a, "n"), "42");
    EXPECT_EQ(strArg(a, "neg"), "-7");
    EXPECT_EQ(strArg(a, "w"), "42");
    for (const char* key : {"f", "b", "null", "o", "absent"}) EXPECT_EQ(strArg(a, key), std::nullopt) << key;
}

TEST(BoolArg, WordsNumbersAndBooleans) {
    Json a = args(R"({"T":"TRUE","oui":"Oui","yes":"YES","one":"1","t":true,"two":2,
                     "zero":"0","false":"false","non":"non","y":"y","sp":" true","n0":0,"f":false,
                     "frac":0.5,"null":null,"arr":[true]})");
    for (const char* key : {"T", "oui", "yes", "one", "t", "two"}) EXPECT_TRUE(boolArg(a, key)) << key;
    for (const char* key : {"zero", "false", "non", "y", "sp", "n0", "f", "frac", "null", "arr", "absent"})
        EXPECT_FALSE(boolArg(a, key)) << key;
}

TEST(ToolErrorTest, CarriesCodeAndMessage) {
    try {
        throw ToolError("not_logged_in", "Pas connecté");
    } catch (const std::exception& e) {
        auto* te = dynamic_cast<const ToolError*>(&e);
        ASSERT_NE(te, nullptr);
        EXPECT_EQ(te->code, "not_logged_in");
        EXPECT_STREQ(e.what(), "Pas connecté");
    }
}

}  // namespace
