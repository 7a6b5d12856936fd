// Pure tests of the record file's line rules and written format; no Windows needed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "record/record_scanner.h"
#include "tests/record/record_test_support.h"

namespace {

using Entries = std::vector<SoftwareEntry>;

struct ScanCase {
    const char* what;
    std::string bytes;
    Entries expected;
};

// A record's name line between a header and a product line, so only the name varies.
ScanCase NameLine(const char* what, const std::string& line, const std::string& name) {
    return {what, "[[software]]\n" + line + "\nproduct_id = \"6\"\n", {{name, "6", ""}}};
}

TEST(RecordScanner, FollowsTheLineRules) {
    const std::vector<ScanCase> cases = {
        {"no bytes", "", {}},
        {"only blank lines", "\n\r\n\n", {}},
        {"headers without keys", "[[software]]\n[[software]]\r\n[[software]]", {}},
        NameLine("no spaces", "name=\"x\"", "x"),
        NameLine("no quotes", "name = x", "x"),
        NameLine("indented", "  name = \"x\"", "x"),
        NameLine("wide spacing", "name   =   \"x\"", "x"),
        NameLine("tabs before the value", "name =\t\t\"x\"", "x"),
        NameLine("blank inside the opening quote", "name = \" x\"", "x"),
        NameLine("only the first equals sign splits", "name = \"a=b\"", "a=b"),
        NameLine("trailing blanks kept", "name = \"x\"   ", "x   "),
        NameLine("text after the quote kept", "name = \"x\" # note", "x # note"),
        NameLine("every quote removed", "name = \"a\"b\"", "ab"),
        NameLine("nothing after the equals sign", "name =", ""),
        NameLine("other letter case ignored", "Name = \"x\"", ""),
        NameLine("key containing the word", "display_name = \"x\"", "x"),
        NameLine("comment syntax is not special", "# name = \"old\"", "old"),
        NameLine("lone CR is content", "name = \"x\ry\"", "x\ry"),
        {"no equals sign keeps the value",
         "[[software]]\nproduct_id = \"6\"\nproduct_id 9\nname\n",
         {{"", "6", ""}}},
        {"name test comes before product_id",
         "[[software]]\nproduct_id = \"6\"\nproduct_id_name = \"p\"\n",
         {{"p", "6", ""}}},
        {"product_id test comes before distributor_id",
         "[[software]]\ndistributor_product_id = \"5\"\n",
         {{"", "5", ""}}},
        {"header with a key on the same line is a header only",
         "[[software]] name = \"x\"\nproduct_id = \"6\"\n",
         {{"", "6", ""}}},
        {"byte-order mark before the first header",
         "\xEF\xBB\xBF[[software]]\r\nname = \"a\"\r\nproduct_id = \"6\"\r\n",
         {{"a", "6", ""}}},
        {"other bytes before a header",
         "x = [[software]]\nname = \"n\"\nproduct_id = \"1\"",
         {{"n", "1", ""}}},
        {"later line wins",
         "[[software]]\nname = \"a\"\nname = \"b\"\nproduct_id = \"6\"\n",
         {{"b", "6", ""}}},
        {"key lines before any header form a record",
         "name = \"n\"\nproduct_id = \"3\"\ndistributor_id = \"4\"",
         {{"n", "3", "4"}}},
        {"record without product_id dropped and not carried over",
         "[[software]]\nname = \"A\"\ndistributor_id = \"9\"\n[[software]]\nproduct_id = \"6\"\n",
         {{"", "6", ""}}},
        {"empty product_id dropped",
         "[[software]]\nname = \"a\"\nproduct_id = \"\"\n[[software]]\nproduct_id = \"2\"\n",
         {{"", "2", ""}}},
        {"product_id of quotes and blanks dropped", "[[software]]\nproduct_id = \" \" \t\n", {}},
        {"empty product_id refilled later in the record",
         "[[software]]\nproduct_id = \"\"\nproduct_id = \"7\"\n",
         {{"", "7", ""}}},
        {"other tables and keys ignored",
         "[general]\nversion = \"3\"\n[[software]]\nproduct_id = \"6\"\nchannel = \"beta\"\n",
         {{"", "6", ""}}},
        {"last line without a line feed counts",
         "[[software]]\nproduct_id = \"6\"\ndistributor_id = \"1\"",
         {{"", "6", "1"}}},
        {"CR at the very end is not a line end", "product_id = \"6\"\r", {{"", "6\r", ""}}},
        {"records kept in file order with duplicates",
         "[[software]]\nproduct_id = \"6\"\n[[software]]\nproduct_id = \"2\"\n"
         "[[software]]\nproduct_id = \"6\"\n",
         {{"", "6", ""}, {"", "2", ""}, {"", "6", ""}}},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ScanSoftwareEntries(c.bytes), c.expected);
    }
}

TEST(RecordScanner, ReadsLfAndCrLfFilesAlike) {
    const std::string lf =
        "[[software]]\nname = \"a\"\nproduct_id = \"6\"\ndistributor_id = \"1\"\n"
        "[[software]]\nname = \"b\"\nproduct_id = \"7\"\ndistributor_id = \"\"\n";
    std::string crlf;
    for (char c : lf) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    const Entries expected = {{"a", "6", "1"}, {"b", "7", ""}};
    EXPECT_EQ(ScanSoftwareEntries(lf), expected);
    EXPECT_EQ(ScanSoftwareEntries(crlf), expected);
}

TEST(RecordWriter, WritesTheDefaultRecordIn83Bytes) {
    const std::string bytes = FormatSoftwareEntries({{kChineseName, "6", "1"}});
    EXPECT_EQ(bytes, std::string("[[software]]\r\n"
                                 "name = \"") +
                         kChineseName +
                         "\"\r\n"
                         "product_id = \"6\"\r\n"
                         "distributor_id = \"1\"\r\n");
    EXPECT_EQ(bytes.size(), 83u);
}

TEST(RecordWriter, WritesRecordsInListOrderWithoutEscaping) {
    EXPECT_EQ(FormatSoftwareEntries({}), "");
    EXPECT_EQ(FormatSoftwareEntries({{"a\\b=c", "2", ""}, {"", "6", "x y"}}),
              "[[software]]\r\nname = \"a\\b=c\"\r\nproduct_id = \"2\"\r\ndistributor_id = \"\"\r\n"
              "[[software]]\r\nname = \"\"\r\nproduct_id = \"6\"\r\ndistributor_id = \"x y\"\r\n");
}

TEST(RecordWriter, WhatItWritesReadsBackUnchanged) {
    const std::vector<Entries> lists = {
        {},
        {{kChineseName, "6", "1"}},
        {{"", "6", ""}, {"a=b # c", "12", "3"}, {"x\ry\r", "6", "7"}},
        {{"tail   ", "1", "2\t"}, {"[[soft", "ware]]", "id"}},
    };
    for (const Entries& list : lists) {
        EXPECT_EQ(ScanSoftwareEntries(FormatSoftwareEntries(list)), list);
    }
}

}  // namespace
