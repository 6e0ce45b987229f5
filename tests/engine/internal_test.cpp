// The engine's inner text rules: names, quoting of caller values in
// messages, JSON escaping, and the searchable text a document yields (which
// must be the same every time, or deleting from the full-text index fails).
#include "kr_search.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <string>
#include <vector>

namespace {

using korrin::append_json_string;
using korrin::is_plain_name;
using korrin::is_valid_utf8;
using korrin::shown;

TEST(EngineText, PlainNames)
{
    struct Case {
        std::string s;
        bool ok;
    } cases[] = {
        {"a", true},          {"A-z_09", true},       {std::string(127, 'x'), true},
        {"", false},          {std::string(128, 'x'), false}, {"a b", false},
        {"a.b", false},       {"a/b", false},         {"é", false},
        {std::string("a\0b", 3), false},
    };
    for (const auto &c : cases) EXPECT_EQ(is_plain_name(c.s, 127), c.ok) << "[" << c.s << "]";
}

TEST(EngineText, Utf8Validity)
{
    struct Case {
        const char *s;
        bool ok;
    } cases[] = {
        {"plain", true},         {"caf\xC3\xA9", true},       {"\xF0\x9F\x98\x80", true},
        {"\xC3", false},         {"\xC0\xAF", false},         // overlong '/'
        {"\xED\xA0\x80", false}, {"\xF4\x90\x80\x80", false}, // surrogate, beyond U+10FFFF
        {"\xFF", false},         {"\xE2\x82", false},
        {"\xEF\xBF\xBD", true},   // U+FFFD itself is well-formed
        {"\xE0\x80\xAF", false}, {"\xF0\x80\x80\xAF", false}, // longer overlongs
    };
    for (const auto &c : cases) EXPECT_EQ(is_valid_utf8(c.s), c.ok) << c.s;
}

TEST(EngineText, JsonStringsAlwaysValid)
{
    struct Case {
        std::string in, out;
    } cases[] = {
        {"plain", "\"plain\""},
        {"q\"b\\", "\"q\\\"b\\\\\""},
        {"\n\t\x01\x1f", "\"\\n\\t\\u0001\\u001f\""},
        {"caf\xC3\xA9", "\"caf\xC3\xA9\""},
        {"bad\xFFz", "\"bad\xEF\xBF\xBDz\""},
        {std::string("nul\0x", 5), "\"nul\\u0000x\""},
    };
    for (const auto &c : cases) {
        std::string out;
        append_json_string(out, c.in);
        EXPECT_EQ(out, c.out) << c.in;
    }
}

TEST(EngineText, ShownValuesAreShortAndPrintable)
{
    EXPECT_EQ(shown("movies"), "movies");
    EXPECT_EQ(shown("a\nb\xFF"), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    std::string long_value = shown(std::string(1000, 'x'));
    EXPECT_LT(long_value.size(), 100u);
    EXPECT_TRUE(is_valid_utf8(long_value));
    // Cutting never splits a character.
    std::string accents;
    for (int i = 0; i < 100; ++i) accents += "\xC3\xA9";
    EXPECT_TRUE(is_valid_utf8(shown(accents)));
}

struct Parsed {
    explicit Parsed(const std::string &json)
        : doc(yyjson_read_opts(const_cast<char *>(json.data()), json.size(), YYJSON_READ_NUMBER_AS_RAW, nullptr,
                               nullptr))
    {
    }
    ~Parsed() { yyjson_doc_free(doc); }
    yyjson_val *root() const { return yyjson_doc_get_root(doc); }
    yyjson_doc *doc;
};

// Every string value, nested ones included, reaches the full-text columns
// in document order; other values do not.
TEST(EngineDocuments, ColumnTextsTakeEveryStringInOrder)
{
    const std::string brk = "\n" + std::string(korrin::kValueBreak) + "\n";  // between values of a column
    struct Case {
        const char *doc;
        std::vector<std::string> columns;
    } cases[] = {
        {R"({"id":1,"t":"a","n":5,"b":true})", {"a", "", "", ""}},
        {R"({"t":"a","nested":{"x":"b","y":["c",{"z":"d"}]},"u":"e"})", {"a", "b" + brk + "c" + brk + "d", "e", ""}},
        {R"({"a":"1","b":"2","c":"3","d":"4","e":["5"]})", {"1", "2", "3", "4" + brk + "5"}},
        {R"({"id":"key-1","t":""})", {"key-1", "", "", ""}},
        {R"({"n":1})", {"", "", "", ""}},
    };
    for (const auto &c : cases) {
        Parsed p(c.doc);
        std::string text[korrin::kTextColumns];
        korrin::column_texts(p.root(), text, true);
        EXPECT_EQ(std::vector<std::string>(text, text + korrin::kTextColumns), c.columns) << c.doc;
    }
}

TEST(EngineDocuments, DeepNestingIsHandled)
{
    std::string deep = "{\"id\":1,\"a\":";
    for (int i = 0; i < 200000; ++i) deep += '[';
    deep += "\"bottom\"";
    for (int i = 0; i < 200000; ++i) deep += ']';
    deep += '}';
    korrin::Batch batch;
    ASSERT_TRUE(batch.parse(deep).is_ok());
    std::string text[korrin::kTextColumns];
    korrin::column_texts(batch.document(0), text, true);
    EXPECT_EQ(text[0], "bottom");
}

TEST(EngineDocuments, TopLevelAttributesAreDistinct)
{
    Parsed few(R"({"a":1,"b":2,"a":3})");
    auto keys = korrin::top_level_attributes(few.root());
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0], "a");
    EXPECT_EQ(keys[1], "b");
    std::string many = "{";
    for (int i = 0; i < 40; ++i) many += "\"k" + std::to_string(i % 20) + "\":" + std::to_string(i) + ",";
    many.back() = '}';
    Parsed p(many);
    EXPECT_EQ(korrin::top_level_attributes(p.root()).size(), 20u);
}

}  // namespace
