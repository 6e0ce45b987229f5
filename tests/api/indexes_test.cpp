#include <string>

#include "harness.h"
#include "kr_common.h"

namespace {

const std::string kFallback = "2026-09-06T00:00:00Z";

/* A listing entry: the engine's times where it has them, the constant
 * otherwise, exactly as the lookup of one index reports them. */
std::string entry(const std::string &name, const std::string &key, const std::string &created = kFallback,
                  const std::string &updated = kFallback)
{
    return "{\"uid\":\"" + name + "\",\"name\":\"" + name + "\",\"primaryKey\":\"" + key +
           "\",\"primary_key\":\"" + key + "\",\"createdAt\":\"" + created + "\",\"updatedAt\":\"" + updated +
           "\"}";
}

std::string page(const std::string &entries, int total)
{
    return "{\"results\":[" + entries + "],\"offset\":0,\"limit\":20,\"total\":" + std::to_string(total) + "}";
}

std::string lookup(const std::string &uid, const std::string &key, const std::string &created = kFallback,
                   const std::string &updated = kFallback)
{
    return "{\"uid\":\"" + uid + "\",\"name\":\"" + uid + "\",\"primaryKey\":\"" + key + "\",\"createdAt\":\"" +
           created + "\",\"updatedAt\":\"" + updated + "\"}";
}

using IndexesTest = HandlerTest;

TEST_F(IndexesTest, ListingOfOddEngineTexts)
{
    const std::string long300(300, 'n');
    std::string list25 = "[", entries25;
    for (int i = 0; i < 25; ++i) {
        list25 += std::string(i ? "," : "") + "{\"name\":\"i" + std::to_string(i) + "\"}";
        entries25 += std::string(i ? "," : "") + entry("i" + std::to_string(i), "id");
    }
    list25 += "]";
    const std::pair<std::string, std::string> cases[] = {
        {"[{\"name\":\"movies\",\"primary_key\":\"movie_id\"},{\"name\":\"books\"},7]",
         page(entry("movies", "movie_id") + "," + entry("books", "id") + "," + entry("", "id"), 3)},
        {"[]", page("", 0)},
        {"{\"name\":\"movies\"}", page("", 0)},
        {"not json", page("", 0)},
        {"", page("", 0)},
        {"null", page("", 0)},
        {"[{\"name\":5}]", page(entry("", "id"), 1)},
        {"[{\"name\":\"a\",\"primary_key\":null}]", page(entry("a", "id"), 1)},
        {"[{\"name\":\"a\",\"primaryKey\":\"sku\"}]", page(entry("a", "id"), 1)},
        {"[{\"name\":\"first\",\"name\":\"second\"}]", page(entry("first", "id"), 1)},
        {"[{\"name\":\"a\\\"b\\\\c\"}]", page(entry("a\\\"b\\\\c", "id"), 1)},
        {"[{}, [], \"x\", null, true]", page(entry("", "id") + "," + entry("", "id") + "," + entry("", "id") + "," +
                                              entry("", "id") + "," + entry("", "id"), 5)},
        {"[{\"name\":\"" + long300 + "\"}]", page(entry(long300, "id"), 1)},
        {list25, page(entries25, 25)},
        {"[{\"name\":\"m\",\"primary_key\":\"id\",\"created_at\":\"2024-01-02T03:04:05Z\","
         "\"updated_at\":\"2024-02-03T04:05:06Z\"}]",
         page(entry("m", "id", "2024-01-02T03:04:05Z", "2024-02-03T04:05:06Z"), 1)},
        {"[{\"name\":\"m\",\"created_at\":5,\"updated_at\":\"u\"}]", page(entry("m", "id", kFallback, "u"), 1)},
        {"[{\"name\":\"m\",\"created_at\":\"c\"}]", page(entry("m", "id", "c", kFallback), 1)},
        {"[{\"name\":\"m\",\"updated_at\":\"a\\\"b\"}]", page(entry("m", "id", kFallback, "a\\\"b"), 1)},
        {"[3,{\"created_at\":\"c\",\"updated_at\":\"u\"}]", page(entry("", "id") + "," + entry("", "id", "c", "u"), 2)},
    };
    for (const auto &[list, body] : cases) {
        fake_engine_reset();
        fake_engine().indexes_list = list;
        request({"GET", {}, "limit=5&offset=10"});
        EXPECT_EQ(capture([] { kr_execute_indexes(""); }), json_reply(200, body)) << "engine list " << list;
        EXPECT_EQ(fake_engine_trace(), "korrin_indexes_list_json") << list;
    }
    request({"GET"});
    fake_engine().indexes_list = "[]";
    EXPECT_EQ(capture([] { kr_execute_indexes(NULL); }), json_reply(200, page("", 0)));
}

TEST_F(IndexesTest, Lookup)
{
    const std::string books_movies =
        "[{\"name\":\"books\",\"primary_key\":\"isbn\"},{\"name\":\"movies\",\"primary_key\":\"movie_id\"}]";
    struct Case {
        const char *label;
        std::string list;
        const char *uid;
        std::string expected;
    };
    const std::string not_found = error_reply(404, "index_not_found", "Index not found");
    const Case cases[] = {
        {"second element", books_movies, "movies", json_reply(200, lookup("movies", "movie_id"))},
        {"no primary key", "[{\"name\":\"movies\"}]", "movies", json_reply(200, lookup("movies", "id"))},
        {"first of two", "[{\"name\":\"movies\",\"primary_key\":\"a\"},{\"name\":\"movies\",\"primary_key\":\"b\"}]",
         "movies", json_reply(200, lookup("movies", "a"))},
        {"case-sensitive", books_movies, "Movies", not_found},
        {"number name passed over", "[{\"name\":5},{\"x\":1},{},3,{\"name\":\"5\"}]", "5", json_reply(200, lookup("5", "id"))},
        {"not an array", "{\"name\":\"movies\"}", "movies", not_found},
        {"empty array", "[]", "movies", not_found},
        {"not json", "[{", "movies", not_found},
        {"engine times", "[{\"name\":\"m\",\"created_at\":\"2024-01-02T03:04:05Z\",\"updated_at\":\"2024-05-06T07:08:09Z\"}]",
         "m", json_reply(200, lookup("m", "id", "2024-01-02T03:04:05Z", "2024-05-06T07:08:09Z"))},
        {"one time only", "[{\"name\":\"m\",\"updated_at\":\"U\",\"created_at\":null}]", "m",
         json_reply(200, lookup("m", "id", kFallback, "U"))},
        {"escaped values", "[{\"name\":\"a\\\"b\",\"primary_key\":\"k\\\\\\n\",\"created_at\":\"\\\"\"}]", "a\"b",
         json_reply(200, lookup("a\\\"b", "k\\\\\\n", "\\\"", kFallback))},
    };
    for (const Case &c : cases) {
        fake_engine_reset();
        fake_engine().indexes_list = c.list;
        fake_engine().last_error = "engine says something";
        request({"GET"});
        EXPECT_EQ(capture([&] { kr_execute_indexes(c.uid); }), c.expected) << c.label;
        EXPECT_EQ(fake_engine_trace(), "korrin_indexes_list_json") << c.label;
    }
    /* A primary key longer than 127 bytes is shown whole. */
    const std::string long_key(300, 'k');
    fake_engine().indexes_list = "[{\"name\":\"m\",\"primary_key\":\"" + long_key + "\"}]";
    EXPECT_EQ(capture([] { kr_execute_indexes("m"); }), json_reply(200, lookup("m", long_key)));
}

/* A client that lists the indexes and then describes one must read the same
 * uid, primary key and times both ways, whichever times the engine has. */
TEST_F(IndexesTest, ListingEntriesAgreeWithLookup)
{
    const std::string list =
        "[{\"name\":\"both\",\"primary_key\":\"k\",\"created_at\":\"C1\",\"updated_at\":\"U1\"},"
        "{\"name\":\"created\",\"created_at\":\"C2\"},"
        "{\"name\":\"updated\",\"updated_at\":\"U3\",\"created_at\":false},"
        "{\"name\":\"none\"}]";
    fake_engine().indexes_list = list;
    request({"GET"});
    const std::string listing = capture([] { kr_execute_indexes(NULL); });
    for (const char *uid : {"both", "created", "updated", "none"}) {
        std::string one = capture([&] { kr_execute_indexes(uid); });
        const std::string head = json_reply(200, "");
        ASSERT_EQ(one.compare(0, head.size() - 1, head, 0, head.size() - 1), 0) << uid << ": " << one;
        /* The lookup body is the listing entry less its "primary_key"
         * member, which follows "primaryKey" with the same value. */
        std::string body = one.substr(head.size() - 1, one.size() - head.size() - 1);
        size_t times = body.find(",\"createdAt\"");
        ASSERT_NE(times, std::string::npos) << uid;
        std::string key_end = body.substr(0, times);
        std::string key = key_end.substr(key_end.rfind(':') + 1);
        std::string expected = key_end + ",\"primary_key\":" + key + body.substr(times);
        EXPECT_NE(listing.find(expected), std::string::npos)
            << uid << ": lookup " << body << " has no twin in the listing " << listing;
    }
}

TEST_F(IndexesTest, CreationPrecedence)
{
    struct Case {
        const char *label;
        Cgi         cgi;
        const char *uid;
        std::string name;
        std::string key;
    };
    const Case cases[] = {
        {"uid over name", {"POST", {}, {}, "{\"uid\":\"books\",\"name\":\"films\"}"}, NULL, "books", "id"},
        {"non-string uid hides name", {"POST", {}, {}, "{\"uid\":5,\"name\":\"films\"}"}, "movies", "movies", "id"},
        {"body name over index_uid", {"POST", {}, {}, "{\"name\":\"films\"}"}, "movies", "films", "id"},
        {"empty body uid", {"POST", {}, "name=q", "{\"uid\":\"\"}"}, "movies", "movies", "id"},
        {"query name", {"POST", {}, "name=films"}, NULL, "films", "id"},
        {"empty query name, uid", {"POST", {}, "name=&uid=films"}, "", "films", "id"},
        {"primaryKey over primary_key", {"POST", {}, {}, "{\"uid\":\"a\",\"primaryKey\":\"sku\",\"primary_key\":\"code\"}"},
         NULL, "a", "sku"},
        {"primary_key only", {"POST", {}, {}, "{\"uid\":\"a\",\"primary_key\":\"code\"}"}, NULL, "a", "code"},
        {"non-string primaryKey", {"POST", {}, {}, "{\"uid\":\"a\",\"primaryKey\":5,\"primary_key\":\"code\"}"},
         NULL, "a", "id"},
        {"empty primary key", {"POST", {}, {}, "{\"uid\":\"a\",\"primaryKey\":\"\"}"}, NULL, "a", ""},
        {"body not json", {"POST", {}, {}, "{uid:1}"}, "x", "x", "id"},
        {"body array", {"POST", {}, {}, "[{\"uid\":\"a\"}]"}, "x", "x", "id"},
        {"127-byte name", {"POST", {}, {}, "{\"uid\":\"" + std::string(127, 'u') + "\"}"}, NULL, std::string(127, 'u'), "id"},
    };
    for (const Case &c : cases) {
        fake_engine_reset();
        request(c.cgi);
        std::string body = "{\"uid\":\"" + c.name + "\",\"name\":\"" + c.name + "\",\"primaryKey\":\"" + c.key +
                           "\",\"status\":\"succeeded\"}";
        EXPECT_EQ(capture([&] { kr_execute_indexes(c.uid); }), json_reply(201, body)) << c.label;
        auto calls = fake_engine_calls();
        ASSERT_EQ(calls.size(), 1u) << c.label;
        EXPECT_EQ(calls[0].args, (std::vector<std::string>{c.name, c.key})) << c.label;
    }
}

TEST_F(IndexesTest, CreationRefusals)
{
    struct Case {
        const char *label;
        Cgi         cgi;
        const char *uid;
        std::function<void(FakeEngine &)> engine;
        std::string expected;
        std::string trace;
    };
    auto none = [](FakeEngine &) {};
    const std::string too_long = error_reply(400, "invalid_index_uid", "Index uid is too long: at most 127 bytes.");
    const Case cases[] = {
        {"no name anywhere", {"POST"}, NULL, none, error_reply(400, "missing_index_uid", "Index uid/name is required"), ""},
        {"engine refuses, empty message", {"POST"}, "movies", [](FakeEngine &e) { e.create_result = 1; e.last_error = ""; },
         error_reply(400, "index_already_exists", "Index creation failed"), "korrin_index_create"},
        {"engine refuses, message", {"POST"}, "movies",
         [](FakeEngine &e) { e.create_result = -1; e.last_error = "Index `movies` already exists."; },
         error_reply(400, "index_already_exists", "Index `movies` already exists."), "korrin_index_create"},
        {"200-byte body name", {"POST", {}, {}, "{\"uid\":\"" + std::string(200, 'u') + "\"}"}, NULL, none, too_long, ""},
        {"empty index_uid, no query", {"POST"}, "", none, error_reply(400, "missing_index_uid", "Index uid/name is required"), ""},
        {"600-byte query name", {"POST", {}, "name=" + std::string(600, 'u')}, NULL, none, too_long, ""},
        {"NUL in body name", {"POST", {}, {}, "{\"uid\":\"ab\\u0000cd\"}"}, NULL, none,
         error_reply(400, "invalid_index_uid", "Index uid must not contain a NUL byte."), ""},
        {"NUL in query name", {"POST", {}, "name=%00ab"}, NULL, none,
         error_reply(400, "invalid_index_uid", "Index uid must not contain a NUL byte."), ""},
        {"long primary key", {"POST", {}, {}, "{\"uid\":\"a\",\"primaryKey\":\"" + std::string(128, 'k') + "\"}"}, NULL,
         none, error_reply(400, "invalid_index_primary_key", "Primary key is too long: at most 127 bytes."), ""},
    };
    for (const Case &c : cases) {
        fake_engine_reset();
        request(c.cgi);
        c.engine(fake_engine());
        EXPECT_EQ(capture([&] { kr_execute_indexes(c.uid); }), c.expected) << c.label;
        EXPECT_EQ(fake_engine_trace(), c.trace) << c.label;
    }
    const std::string long_uid(200, 'u');
    request({"POST"});
    EXPECT_EQ(capture([&] { kr_execute_indexes(long_uid.c_str()); }), too_long);
    EXPECT_EQ(fake_engine_trace(), "");
}

TEST_F(IndexesTest, CreationEscapesWhatItEchoes)
{
    request({"POST", {}, {}, "{\"uid\":\"a\\\"}\",\"primaryKey\":\"\\\\\"}"});
    EXPECT_EQ(capture([] { kr_execute_indexes(NULL); }),
              json_reply(201, "{\"uid\":\"a\\\"}\",\"name\":\"a\\\"}\",\"primaryKey\":\"\\\\\",\"status\":\"succeeded\"}"));
}

TEST_F(IndexesTest, DeletionAndOtherMethods)
{
    const std::string deleted = "{\"status\":\"succeeded\",\"taskUid\":1,\"type\":\"indexDeletion\"}";
    request({"DELETE", {}, "uid=movies"});
    EXPECT_EQ(capture([] { kr_execute_indexes(NULL); }),
              error_reply(400, "missing_index_uid", "Index uid/name is required"));
    EXPECT_EQ(fake_engine_trace(), "");

    EXPECT_EQ(capture([] { kr_execute_indexes("movies"); }), json_reply(200, deleted));
    EXPECT_EQ(capture([] { kr_execute_indexes("movies"); }), json_reply(200, deleted));
    fake_engine().index_delete_result = 3;
    EXPECT_EQ(capture([] { kr_execute_indexes("movies"); }), error_reply(404, "index_not_found", "Index not found"));
    fake_engine().last_error = "Index `movies` not found.";
    EXPECT_EQ(capture([] { kr_execute_indexes("movies"); }),
              error_reply(404, "index_not_found", "Index `movies` not found."));
    EXPECT_EQ(fake_engine_trace(), "korrin_index_delete korrin_index_delete korrin_index_delete korrin_index_delete");

    for (const char *method : {"PUT", "PATCH", "get", "HEAD"}) {
        fake_engine_reset();
        request({method});
        EXPECT_EQ(capture([] { kr_execute_indexes("movies"); }),
                  error_reply(405, "method_not_allowed", "Method not allowed")) << method;
        EXPECT_EQ(fake_engine_trace(), "") << method;
    }
}

} // namespace
