// The JSON of the --json outputs: the layout that scripts read, and names
// that are not UTF-8.
#include <gtest/gtest.h>

#include "cli/Jsonout.h"

using namespace tolm::cli;

TEST(JsonOut, WritesTheLayoutScriptsRead) {
    TJson port = TJson::object();
    port["seconds"] = 2.0;
    port["took"] = 12.345678;
    port["rate"] = 0.0001;
    port["big"] = 1e16;
    port["bytes"] = static_cast<double>(263168);
    port["pid"] = int64_t{4242};
    port["passed"] = true;
    port["name"] = "a\"\\\t\x01\x7f中";
    port["empty"] = TJson::array();
    EXPECT_EQ(IndentedJson(TJson::array({port})),
              "[\n"
              "    {\n"
              "        \"big\": 1e+16,\n"
              "        \"bytes\": 263168,\n"
              "        \"empty\": [\n"
              "        ],\n"
              "        \"name\": \"a\\\"\\\\\\t\\u0001\x7f中\",\n"
              "        \"passed\": true,\n"
              "        \"pid\": 4242,\n"
              "        \"rate\": 1e-04,\n"
              "        \"seconds\": 2,\n"
              "        \"took\": 12.345678\n"
              "    }\n"
              "]\n");
    EXPECT_EQ(CompactJson(port),
              "{\"big\":1e+16,\"bytes\":263168,\"empty\":[],\"name\":\"a\\\"\\\\\\t\\u0001\x7f中\",\"passed\":true,"
              "\"pid\":4242,\"rate\":1e-04,\"seconds\":2,\"took\":12.345678}");
    EXPECT_EQ(IndentedJson(TJson::array()), "[\n]\n") << "no ports";
}

TEST(JsonOut, TextThatIsNotUtf8IsShownAndNamedExactly) {
    TJson o = TJson::object();
    // A byte of another encoding, a character cut off at the end, an
    // overlong form and a surrogate: one U+FFFD for each byte. A leading
    // byte-order mark is a character of the name like any other.
    const std::string name = "\xEF\xBB\xBF" "a\xFF" "b\xC0\x80\xED\xA0\x80" "c\xE4\xB8";
    PutText(o, "file", name);
    EXPECT_EQ(o["file"], "\uFEFF" "a\uFFFD" "b\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD" "c\uFFFD\uFFFD");
    EXPECT_EQ(o["file_hex"], "efbbbf61ff62c080eda08063e4b8");
    PutText(o, "device", "/dev/中文😀");
    EXPECT_EQ(o["device"], "/dev/中文😀");
    EXPECT_FALSE(o.contains("device_hex"));
}
