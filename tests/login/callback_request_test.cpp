#include "login/callback_request.h"

#include <gtest/gtest.h>

namespace {

using Kind = CallbackRequest::Kind;

const std::string kState = "S7x-_state";

std::string get(const std::string& target) { return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"; }

struct Case {
    std::string name;
    std::string bytes;
    Kind kind;
    std::string codeOrReason;
};

class CallbackRequestTable : public ::testing::TestWithParam<Case> {};

TEST_P(CallbackRequestTable, Judges) {
    const Case& c = GetParam();
    CallbackRequest r = CallbackRequest::parse(c.bytes, kState);
    EXPECT_EQ(r.kind(), c.kind) << c.name;
    if (c.kind == Kind::Code) {
        EXPECT_EQ(r.code(), c.codeOrReason) << c.name;
    }
    if (c.kind == Kind::Refused) {
        EXPECT_EQ(r.reason(), c.codeOrReason) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    All, CallbackRequestTable,
    ::testing::Values(
        Case{"code", get("/callback?code=abc&state=" + kState), Kind::Code, "abc"},
        Case{"prefix test", get("/callback-extra?state=" + kState + "&code=abc"), Kind::Code, "abc"},
        Case{"escaped code", get("/callback?code=a%2Bb+c%2F&state=" + kState), Kind::Code, "a+b c/"},
        Case{"fragment ignored", get("/callback?code=abc&state=" + kState + "#state=x"), Kind::Code, "abc"},
        Case{"wrong state", get("/callback?code=abc&state=other"), Kind::Refused, "state inattendu"},
        Case{"no state", get("/callback?code=abc"), Kind::Refused, "state inattendu"},
        Case{"empty state", get("/callback?code=abc&state="), Kind::Refused, "state inattendu"},
        Case{"state without value", get("/callback?code=abc&state"), Kind::Refused, "state inattendu"},
        Case{"error", get("/callback?error=access_denied&state=" + kState), Kind::Refused, "access_denied"},
        Case{"description wins", get("/callback?error=access_denied&error_description=Non+merci&state=" + kState),
             Kind::Refused, "Non merci"},
        Case{"empty description wins", get("/callback?error=x&error_description=&state=" + kState), Kind::Refused,
             ""},
        Case{"accented reason", get("/callback?state=" + kState + "&error_description=Acc%C3%A8s+refus%C3%A9"),
             Kind::Refused, "Accès refusé"},
        Case{"empty code", get("/callback?code=&state=" + kState), Kind::Refused, "refusé"},
        Case{"nothing", get("/callback?state=" + kState), Kind::Refused, "refusé"},
        Case{"favicon", get("/favicon.ico"), Kind::Unexpected, ""},
        Case{"root", get("/"), Kind::Unexpected, ""},
        Case{"no space", "GET/callback?code=abc&state=" + kState + "\r\n\r\n", Kind::Unexpected, ""},
        Case{"one field only", "/callback?code=abc&state=" + kState, Kind::Unexpected, ""},
        Case{"two spaces", "GET  /callback?code=abc&state=" + kState + " HTTP/1.1\r\n", Kind::Unexpected, ""},
        Case{"line cut short", "GET /callback?code=abc&state=" + kState, Kind::Code, "abc"},
        Case{"bad escape", get("/callback?code=abc%zz&state=" + kState), Kind::Unexpected, ""},
        Case{"truncated escape", get("/callback?state=" + kState + "&code=ab%4"), Kind::Unexpected, ""},
        Case{"escape to invalid UTF-8", get("/callback?code=%FF&state=" + kState), Kind::Unexpected, ""},
        Case{"quote in target", get("/callback?code=a\"b&state=" + kState), Kind::Unexpected, ""},
        Case{"two states", get("/callback?code=abc&state=" + kState + "&state=" + kState), Kind::Unexpected, ""},
        Case{"two states, one wrong", get("/callback?state=x&code=abc&state=" + kState), Kind::Unexpected, ""},
        Case{"two codes", get("/callback?code=a&code=b&state=" + kState), Kind::Unexpected, ""},
        Case{"NUL bytes", std::string("GET /callback\0\0?code=abc HTTP/1.1\r\n", 35), Kind::Unexpected, ""},
        Case{"junk", std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11), Kind::Ignore, ""},
        Case{"invalid UTF-8", get("/callback?code=\xc3\x28&state=" + kState), Kind::Ignore, ""},
        Case{"empty", "", Kind::Ignore, ""}));

TEST(CallbackRequest, AStateNotYetMadeMatchesNothing) {
    EXPECT_EQ(CallbackRequest::parse(get("/callback?code=abc&state="), "").kind(), Kind::Refused);
    EXPECT_EQ(CallbackRequest::parse(get("/callback?code=abc"), "").kind(), Kind::Refused);
}

TEST(CallbackRequest, Pieces) {
    EXPECT_EQ(CallbackRequest::requestLine("GET / HTTP/1.1\r\nHost: x\r\n"), "GET / HTTP/1.1");
    EXPECT_EQ(CallbackRequest::requestLine("GET /x"), "GET /x");
    EXPECT_EQ(CallbackRequest::target("GET /a?b HTTP/1.1"), "/a?b");
    EXPECT_EQ(CallbackRequest::target("GET"), "/");
    EXPECT_EQ(CallbackRequest::target("GET /x"), "/x");
    auto items = CallbackRequest::queryItems("/callback?a=1&b&&c=x+y%20z&a=2");
    ASSERT_TRUE(items);
    EXPECT_EQ(*items, (std::multimap<std::string, std::string>{{"a", "1"}, {"a", "2"}, {"b", ""}, {"c", "x y z"}}));
    EXPECT_EQ(CallbackRequest::escapeHtml("<a href=\"x\">'&'</a>"),
              "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
}

// Content-Length counts bytes: the pages hold "✅", "é", "à".
TEST(CallbackRequest, AnswersAreCompleteHttpWithTheirByteLength) {
    for (const std::string& target :
         {std::string("/favicon.ico"), "/callback?code=abc&state=" + kState, "/callback?state=" + kState + "&error=x"}) {
        CallbackRequest r = CallbackRequest::parse(get(target), kState);
        std::string page = r.page();
        EXPECT_EQ(r.response(), "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                                    std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n" + page);
        EXPECT_TRUE(page.starts_with("<!doctype html><meta charset=\"utf-8\"><title>Kestro Agent</title><body "
                                     "style=\"font-family:system-ui;text-align:center;padding:60px;color:#222\">"));
        EXPECT_TRUE(page.ends_with("</body>"));
    }
    EXPECT_NE(CallbackRequest::parse(get("/favicon.ico"), kState).page().find("<h2>Kestro Agent</h2><p>Requête inattendue.</p>"),
              std::string::npos);
    EXPECT_NE(CallbackRequest::parse(get("/callback?code=abc&state=" + kState), kState)
                  .page()
                  .find("<h2>✅ Kestro Agent est connecté</h2><p>Tu peux fermer cet onglet et revenir à "
                        "l'application.</p>"),
              std::string::npos);
    EXPECT_EQ(CallbackRequest::parse("\xff", kState).response(), "");
}

// A crafted error_description must not reach the page as markup.
TEST(CallbackRequest, TheReasonIsEscapedInThePageButKeptForTheMessage) {
    CallbackRequest r = CallbackRequest::parse(
        get("/callback?state=" + kState + "&error_description=%3Cscript%3Ealert(%27x%27)%3C%2Fscript%3E"), kState);
    EXPECT_EQ(r.reason(), "<script>alert('x')</script>");
    EXPECT_EQ(r.page().find("<script>"), std::string::npos);
    EXPECT_NE(r.page().find("<p>&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;</p>"), std::string::npos);
}

}  // namespace
