#include "core/unicode_text.h"

#include <gtest/gtest.h>

namespace {

using namespace UnicodeText;

TEST(UnicodeText, StrictUtf8) {
    EXPECT_TRUE(isUtf8(""));
    EXPECT_TRUE(isUtf8("plan_03 — forêt « nuit » 🎬"));
    for (const char* bad : {"\xff", "caf\xe9", "\xc0\xaf",  // Latin-1, overlong "/"
                            "\xed\xa0\x80",                 // a UTF-16 surrogate
                            "\xf4\x90\x80\x80",             // above U+10FFFF
                            "\xe2\x82"})                    // cut in the middle of a character
        EXPECT_FALSE(isUtf8(bad)) << bad;
}

TEST(UnicodeText, ReadableReplacesEachBadSequenceOnly) {
    EXPECT_EQ(UnicodeText::readable("caf\xC3\xA9 \xE2\x86\x92"), "caf\xC3\xA9 \xE2\x86\x92");
    EXPECT_EQ(UnicodeText::readable("\xE9t\xE9.png"), "\xEF\xBF\xBDt\xEF\xBF\xBD.png");
    EXPECT_EQ(UnicodeText::readable("a\xE2\x86"), "a\xEF\xBF\xBD") << "a cut sequence is one replacement";
    EXPECT_TRUE(UnicodeText::isUtf8(UnicodeText::readable("\xFF\xFE\xC0\xAF")));
}

TEST(UnicodeText, TheTwoTrimmingRules) {
    std::string text = "\t\xc2\xa0 dossier \xe3\x80\x80\n";
    EXPECT_EQ(trimSpacesAndTabs(text), "dossier \xe3\x80\x80\n") << "a line feed stops the narrow rule";
    EXPECT_EQ(trimWhitespaceAndLineBreaks(text), "dossier");
    EXPECT_EQ(trimWhitespaceAndLineBreaks("\r\n\xe2\x80\xa8 ~/a \xe2\x80\xa9"), "~/a");
    EXPECT_EQ(trimSpacesAndTabs("   "), "");
    EXPECT_EQ(trimSpacesAndTabs("\xff a \xff"), "\xff a \xff") << "bytes that are not UTF-8 stop the trimming";
}

TEST(UnicodeText, FoldedMakesCaseAndSpellingVariantsMeet) {
    EXPECT_EQ(folded("Plan_01.JPG"), "plan_01.jpg");
    EXPECT_EQ(folded("SÉQUENCE"), folded("séquence"));
    EXPECT_EQ(folded("Se\u0301quence"), folded("Séquence")) << "an accent written apart, as macOS names are";
    EXPECT_EQ(folded("STRASSE"), folded("straße"));
    EXPECT_EQ(folded("\uFF30\uFF4C\uFF41\uFF4E"), "plan") << "full-width letters";
    EXPECT_EQ(folded("ΣΊΣΥΦΟΣ"), folded("σίσυφος"));
    EXPECT_EQ(folded(""), "");
    EXPECT_EQ(folded("a\xFF\x42"), "a\uFFFDb") << "ill-formed bytes";
}

}  // namespace
