/* When the handlers ask the engine for its last error message: once after a
 * failed search, addition, document deletion, index creation or index
 * deletion, where that message becomes the reply's; never after a failed
 * document fetch, statistics request or index lookup, whose replies keep
 * their fixed message whatever the engine last said. */
#include <string>

#include "harness.h"
#include "kr_common.h"

namespace {

size_t last_error_calls()
{
    size_t n = 0;
    for (const FakeCall &c : fake_engine().calls)
        n += c.fn == "korrin_last_error";
    return n;
}

struct Case {
    const char                       *label;
    Cgi                               cgi;
    std::function<void(FakeEngine &)> fail;
    std::function<void()>             handler;
    size_t                            asked;
    std::string                       expected;
};

using LastErrorTest = HandlerTest;

TEST_F(LastErrorTest, AskedOnceAfterSomeFailuresAndNeverAfterOthers)
{
    const char *const said = "engine said so";
    const Case cases[] = {
        {"search", {"GET"}, [](FakeEngine &e) { e.search_result = std::nullopt; },
         [] { kr_execute_search("movies"); }, 1, error_reply(404, "index_not_found", said)},
        {"addition", {"POST", {}, {}, "[{}]"}, [](FakeEngine &e) { e.add_result = -1; },
         [] { kr_execute_documents("movies", NULL); }, 1, error_reply(400, "document_addition_failed", said)},
        {"document deletion", {"DELETE"}, [](FakeEngine &e) { e.delete_result = 2; },
         [] { kr_execute_documents("movies", "7"); }, 1, error_reply(404, "document_not_found", said)},
        {"index creation", {"POST"}, [](FakeEngine &e) { e.create_result = 1; },
         [] { kr_execute_indexes("movies"); }, 1, error_reply(400, "index_already_exists", said)},
        {"index deletion", {"DELETE"}, [](FakeEngine &e) { e.index_delete_result = -1; },
         [] { kr_execute_indexes("movies"); }, 1, error_reply(404, "index_not_found", said)},
        {"document fetch", {"GET"}, [](FakeEngine &e) { e.document = std::nullopt; },
         [] { kr_execute_documents("movies", "7"); }, 0, error_reply(404, "document_not_found", "Document not found")},
        {"statistics", {"GET"}, [](FakeEngine &e) { e.stats = std::nullopt; },
         [] { kr_execute_stats("movies"); }, 0, error_reply(404, "index_not_found", "Index not found")},
        {"statistics null", {"GET"}, [](FakeEngine &e) { e.stats = "null"; },
         [] { kr_execute_stats("movies"); }, 0, error_reply(404, "index_not_found", "Index not found")},
        {"index lookup", {"GET"}, [](FakeEngine &e) { e.indexes_list = "[{\"name\":\"books\"}]"; },
         [] { kr_execute_indexes("movies"); }, 0, error_reply(404, "index_not_found", "Index not found")},
        {"index lookup, list not JSON", {"GET"}, [](FakeEngine &e) { e.indexes_list = "oops"; },
         [] { kr_execute_indexes("movies"); }, 0, error_reply(404, "index_not_found", "Index not found")},
    };
    for (const Case &c : cases) {
        fake_engine_reset();
        request(c.cgi);
        fake_engine().last_error = said;
        c.fail(fake_engine());
        EXPECT_EQ(capture(c.handler), c.expected) << c.label;
        EXPECT_EQ(last_error_calls(), c.asked) << c.label;
    }
}

TEST_F(LastErrorTest, SuccessNeverAsks)
{
    const Case cases[] = {
        {"search", {"GET"}, [](FakeEngine &) {}, [] { kr_execute_search("movies"); }, 0, ""},
        {"addition", {"POST", {}, {}, "[{}]"}, [](FakeEngine &e) { e.add_result = 0; },
         [] { kr_execute_documents("movies", NULL); }, 0, ""},
        {"listing without hits", {"GET"}, [](FakeEngine &e) { e.search_result = std::nullopt; },
         [] { kr_execute_documents("movies", NULL); }, 0, ""},
        {"document deletion", {"DELETE"}, [](FakeEngine &) {}, [] { kr_execute_documents("movies", "7"); }, 0, ""},
        {"index creation", {"POST"}, [](FakeEngine &) {}, [] { kr_execute_indexes("movies"); }, 0, ""},
        {"index deletion", {"DELETE"}, [](FakeEngine &) {}, [] { kr_execute_indexes("movies"); }, 0, ""},
    };
    for (const Case &c : cases) {
        fake_engine_reset();
        request(c.cgi);
        fake_engine().last_error = "stale message";
        c.fail(fake_engine());
        const std::string out = capture(c.handler);
        EXPECT_EQ(out.rfind("Status: 20", 0), 0u) << c.label << ": " << out;
        EXPECT_EQ(last_error_calls(), 0u) << c.label;
    }
}

} // namespace
