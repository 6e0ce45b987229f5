#include <string>

#include "harness.h"
#include "kr_common.h"

namespace {

std::string wrapped(const std::string &count, const std::string &stats)
{
    return "{\"numberOfDocuments\":" + count + ",\"document_count\":" + count +
           ",\"isIndexing\":false,\"fieldDistribution\":{},\"stats\":" + stats + "}";
}

using StatsTest = HandlerTest;

TEST_F(StatsTest, CountsAndOddEngineTexts)
{
    const std::string big = "{\"document_count\":7,\"pad\":\"" + std::string(5000, 'p') + "\"}";
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {"{\"document_count\":42,\"is_indexing\":false, \"field_distribution\":{\"a\":42}}",
         json_reply(200, wrapped("42", "{\"document_count\":42,\"is_indexing\":false, \"field_distribution\":{\"a\":42}}"))},
        {"{\"document_count\":-1}", json_reply(200, wrapped("4294967295", "{\"document_count\":-1}"))},
        {"{\"document_count\":4294967296}", json_reply(200, wrapped("0", "{\"document_count\":4294967296}"))},
        {"{\"document_count\":7.0}", json_reply(200, wrapped("0", "{\"document_count\":7.0}"))},
        {"{\"document_count\":\"7\"}", json_reply(200, wrapped("0", "{\"document_count\":\"7\"}"))},
        {"{\"document_count\":1,\"document_count\":2}", json_reply(200, wrapped("1", "{\"document_count\":1,\"document_count\":2}"))},
        {"[1,2]", json_reply(200, wrapped("0", "[1,2]"))},
        {"null", error_reply(404, "index_not_found", "Index not found")},
        {std::nullopt, error_reply(404, "index_not_found", "Index not found")},
        {"null\n", json_reply(200, wrapped("0", "null\n"))},
        {"not json", json_reply(200, "not json")},
        {"", json_reply(200, "")},
        {big, json_reply(200, wrapped("7", big))},
    };
    for (const auto &[stats, expected] : cases) {
        fake_engine_reset();
        fake_engine().stats = stats;
        fake_engine().last_error = "ignored";
        request({"GET"});
        EXPECT_EQ(capture([] { kr_execute_stats("movies"); }), expected) << "engine text " << stats.value_or("NULL");
        auto calls = fake_engine_calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].args, (std::vector<std::string>{"movies"}));
    }
}

/* Where a 1024-byte reply would have lost its closing brace (an engine text
 * of 931 bytes or more beside one-digit counts), the reply stays whole. */
TEST_F(StatsTest, ReplyIsNeverCutAtTheOldBufferSize)
{
    const std::string head = "{\"document_count\":5,\"p\":\"";
    for (size_t size : {929u, 930u, 931u, 932u, 1023u, 1024u, 4096u}) {
        const std::string text = head + std::string(size - head.size() - 2, 'p') + "\"}";
        ASSERT_EQ(text.size(), size);
        fake_engine_reset();
        fake_engine().stats = text;
        request({"GET"});
        const std::string body = wrapped("5", text);
        EXPECT_EQ(capture([] { kr_execute_stats("movies"); }), json_reply(200, body))
            << "engine text of " << size << " bytes";
        EXPECT_EQ(body.size(), 93u + size) << "fixed part and two one-digit counts";
    }
}

TEST_F(StatsTest, MissingIndexNeverCallsTheEngine)
{
    EXPECT_EQ(capture([] { kr_execute_stats(NULL); }), error_reply(400, "missing_index_name", "Index name is required"));
    EXPECT_EQ(capture([] { kr_execute_stats(""); }), error_reply(400, "missing_index_name", "Index name is required"));
    EXPECT_EQ(fake_engine_trace(), "");
}

} // namespace
