#include <string>

#include "harness.h"
#include "kr_common.h"
#include "kr_internal.h"

namespace {

struct SearchCase {
    const char *label;
    Cgi         cgi;
    std::string query;
    std::string limit;
    std::string offset;
};

using SearchTest = HandlerTest;

TEST_F(SearchTest, ParameterPrecedenceAndConversions)
{
    const std::string star = "{\"q\":\"star\",\"limit\":5,\"offset\":10}";
    const std::string long600(600, 'w');
    const SearchCase cases[] = {
        {"GET, nothing", {"GET"}, "", "20", "0"},
        {"unset method", {}, "", "20", "0"},
        {"body only", {"POST", {}, {}, star}, "star", "5", "10"},
        {"query string wins limit and offset", {"POST", {}, "limit=50&offset=3", star}, "star", "50", "3"},
        {"body wins query text", {"POST", {}, "q=moon", star}, "star", "5", "10"},
        {"empty q hides query", {"POST", {}, {}, "{\"q\":\"\",\"query\":\"wars\"}"}, "", "20", "0"},
        {"number q hides query", {"POST", {}, {}, "{\"q\":5,\"query\":\"wars\"}"}, "", "20", "0"},
        {"number q, query string", {"POST", {}, "query=wars", "{\"q\":5,\"query\":\"x\"}"}, "wars", "20", "0"},
        {"body query member", {"POST", {}, {}, "{\"query\":\"wars\"}"}, "wars", "20", "0"},
        {"query string q over query", {"GET", {}, "query=b&q=a"}, "a", "20", "0"},
        {"empty q falls to query", {"GET", {}, "q=&query=b"}, "b", "20", "0"},
        {"body limit 0", {"POST", {}, {}, "{\"limit\":0}"}, "", "0", "0"},
        {"body limit -1, qs limit=0", {"POST", {}, "limit=0", "{\"limit\":-1}"}, "", "-1", "0"},
        {"body limit -1, qs limit=-2", {"POST", {}, "limit=-2", "{\"limit\":-1}"}, "", "-1", "0"},
        {"qs limit=abc", {"POST", {}, "limit=abc", "{\"limit\":3}"}, "", "3", "0"},
        {"qs limit=7x", {"GET", {}, "limit=7x"}, "", "7", "0"},
        {"qs limit= 8", {"GET", {}, "limit=+8"}, "", "8", "0"},
        {"qs limit huge", {"GET", {}, "limit=99999999999"}, "", "2147483647", "0"},
        {"body limit 10.0", {"POST", {}, {}, "{\"limit\":10.0}"}, "", "20", "0"},
        {"body limit string", {"POST", {}, {}, "{\"limit\":\"10\"}"}, "", "20", "0"},
        {"body limit 2^32+1", {"POST", {}, {}, "{\"limit\":4294967297}"}, "", "1", "0"},
        {"body limit 2^31", {"POST", {}, {}, "{\"limit\":2147483648}"}, "", "-2147483648", "0"},
        {"body limit 2^64-1", {"POST", {}, {}, "{\"limit\":18446744073709551615}"}, "", "-1", "0"},
        {"body offset -5", {"POST", {}, {}, "{\"offset\":-5}"}, "", "20", "-5"},
        {"qs offset=0 replaces", {"POST", {}, "offset=0", "{\"offset\":-5}"}, "", "20", "0"},
        {"qs offset=-1 does not", {"POST", {}, "offset=-1", "{\"offset\":-5}"}, "", "20", "-5"},
        {"two q members", {"POST", {}, {}, "{\"q\":\"one\",\"q\":\"two\"}"}, "one", "20", "0"},
        {"PUT never reads body", {"PUT", {}, "q=x", star}, "x", "20", "0"},
        {"DELETE never reads body", {"DELETE", {}, {}, star}, "", "20", "0"},
        {"lower-case post", {"post", {}, {}, star}, "", "20", "0"},
        {"array body", {"POST", {}, "q=y", "[\"q\"]"}, "y", "20", "0"},
        {"string body", {"POST", {}, {}, "\"star\""}, "", "20", "0"},
        {"not JSON", {"POST", {}, "limit=4", "q=star"}, "", "4", "0"},
        {"trailing comma", {"POST", {}, {}, "{\"q\":\"a\",}"}, "", "20", "0"},
        {"long body query", {"POST", {}, {}, "{\"q\":\"" + long600 + "\"}"}, long600.substr(0, 511), "20", "0"},
        {"long qs query", {"GET", {}, "q=" + long600}, long600.substr(0, 511), "20", "0"},
    };
    for (const SearchCase &c : cases) {
        fake_engine_reset();
        fake_engine().search_result = "{\"hits\":[]}";
        request(c.cgi);
        EXPECT_EQ(capture([] { kr_execute_search("movies"); }), json_reply(200, "{\"hits\":[]}")) << c.label;
        auto calls = fake_engine_calls();
        ASSERT_EQ(calls.size(), 1u) << c.label;
        EXPECT_EQ(calls[0].fn, "korrin_search") << c.label;
        EXPECT_EQ(calls[0].args, (std::vector<std::string>{"movies", c.query, c.limit, c.offset})) << c.label;
    }
}

TEST_F(SearchTest, FailuresAndMissingIndex)
{
    request({"POST", {}, {}, "{\"q\":\"x\"}"});
    EXPECT_EQ(capture([] { kr_execute_search(""); }),
              error_reply(400, "missing_index_name", "Index name is required"));
    EXPECT_EQ(capture([] { kr_execute_search(NULL); }),
              error_reply(400, "missing_index_name", "Index name is required"));
    EXPECT_EQ(fake_engine_trace(), "");

    request({"GET"});
    fake_engine().search_result = std::nullopt;
    fake_engine().last_error = "";
    EXPECT_EQ(capture([] { kr_execute_search("movies"); }), error_reply(404, "index_not_found", "Index not found"));
    fake_engine().last_error = "Index `movies` not found.";
    EXPECT_EQ(capture([] { kr_execute_search("movies"); }),
              error_reply(404, "index_not_found", "Index `movies` not found."));
    fake_engine().search_result = "not json at all";
    EXPECT_EQ(capture([] { kr_execute_search("movies"); }), json_reply(200, "not json at all"))
        << "the engine's text is not inspected";
}

TEST(AtoiTest, ConvertsLikeAtoiWithoutOverflow)
{
    const std::pair<const char *, int32_t> cases[] = {
        {"12", 12}, {" 12abc", 12}, {"-3", -3}, {"+4", 4}, {"abc", 0}, {"", 0},
        {"2147483647", 2147483647}, {"2147483648", 2147483647}, {"-99999999999", INT32_MIN},
    };
    for (const auto &[text, value] : cases)
        EXPECT_EQ(kr_atoi32(text), value) << "text \"" << text << "\"";
}

} // namespace
