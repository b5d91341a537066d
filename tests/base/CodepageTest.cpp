#include <gtest/gtest.h>

#include "base/Codepage.h"

using namespace tolm;

// Big5 text with what a station's file may also hold: an unassigned pair in
// the middle, and a lead byte cut off at the end. Neither stops the rest of
// the text from being read.
TEST(Codepage, Big5DecodesAroundBytesItCannotRead) {
    EXPECT_EQ(CodePageToUtf8("\xA4\xA4\xA4\xE5 ok", 950), "中文 ok");
    EXPECT_EQ(CodePageToUtf8("\xA4\xA4\xA3\xC0\xA4\xE5", 950), "中\uFFFD文") << "an unassigned pair is one character";
    EXPECT_EQ(CodePageToUtf8("A\xA4", 950), "A\uFFFD");
    EXPECT_EQ(CodePageToUtf8("\xA4 A", 950), "\uFFFD A") << "a lead byte before a space is not a pair";
    EXPECT_EQ(CodePageToUtf8("\xC3\xA9", 65001), "é");
    // A code page the system does not know shows every byte.
    EXPECT_FALSE(IsKnownCodePage(12345));
    EXPECT_EQ(CodePageToUtf8("a\xE9", 12345), "aé");
}

TEST(Codepage, EncodingMarksWhatTheCodePageCannotHold) {
    EXPECT_EQ(Utf8ToCodePage("中文", 950), "\xA4\xA4\xA4\xE5");
    EXPECT_EQ(Utf8ToCodePage("中😀文", 950), "\xA4\xA4?\xA4\xE5");
    EXPECT_EQ(Utf8ToCodePage("a\xE4\xB8 b", 950), "a? b") << "a cut-off UTF-8 sequence is one character";
    EXPECT_EQ(Utf8ToCodePage("aé中", 12345), "a\xE9?");
}
