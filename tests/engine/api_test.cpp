// The engine's contract seen through korrin.h: refusals and their messages,
// documents stored exactly as sent, replace semantics, indexes and stats.
#include "engine_test_util.h"

#include <regex>
#include <vector>

namespace {

using AddsTest = EngineTest;

struct Refusal {
    const char *uid;
    std::string body;
    const char *message;  // a part of the expected message
};

// Every refusal leaves the store as it was: "movies" keeps its one document
// and no other index appears.
TEST_F(AddsTest, RefusesBadBatchesWholeWithAMessage)
{
    ASSERT_EQ(add("movies", R"({"id":"keep","title":"Kept"})"), 1);
    const std::vector<Refusal> cases = {
        {"", "[]", "An index uid is required"},
        {"bad uid", "[]", "Index uid `bad uid` is invalid: an index uid is 1 to 127 bytes"},
        {"../etc", "[]", "Index uid `../etc` is invalid"},
        {"x\"; DROP TABLE kr_index; --", "[]", "is invalid"},
        {"movies", "", "The body is empty"},
        {"movies", "  \n ", "The body is empty"},
        {"movies", "[{\"id\":1}", "The body is not valid JSON"},
        {"movies", "[{\"id\":1},]", "The body is not valid JSON"},
        {"movies", "[{\"id\":1,\"t\":\"\xff\"}]", "The body is not valid JSON: invalid UTF-8"},
        {"movies", "42", "must be a JSON array of objects, a JSON object, or NDJSON"},
        {"movies", "\"text\"", "must be a JSON array of objects"},
        {"movies", R"([{"id":1},{"id":2},7])", "Document 3 of the batch is not a JSON object."},
        {"movies", R"([{"id":1},{"title":"x"}])", "Document 2 of the batch has no primary key attribute `id`."},
        {"movies", R"([{"id":"a b"}])", "Document 1 of the batch has an invalid primary key value \"a b\""},
        {"movies", R"([{"id":""}])", "Document 1 of the batch has an invalid primary key value"},
        {"movies", "[{\"id\":\"" + std::string(512, 'a') + "\"}]", "invalid primary key value"},
        {"movies", R"([{"id":1.5}])", "invalid primary key value 1.5"},
        {"movies", R"([{"id":1e3}])", "invalid primary key value 1e3"},
        {"movies", R"([{"id":true}])", "neither a string nor an integer"},
        {"movies", R"([{"id":null}])", "neither a string nor an integer"},
        {"movies", R"([{"id":{"a":1}}])", "neither a string nor an integer"},
        {"movies", "{\"id\":1}\n{\"id\":2\n", "Line 2 of the body is not valid JSON"},
        {"movies", "{\"id\":1}\n\n[1]\n", "Document 2 of the batch is not a JSON object."},
        {"fresh", R"([{"title":"no key"}])", "cannot be inferred: the first document has no attribute \"id\""},
        {"fresh", R"([{"movie_id":1,"actorId":2}])", "several attributes whose name ends in \"id\" (`movie_id`, `actorId`)"},
        {"fresh", R"([1])", "Document 1 of the batch is not a JSON object."},
        {"fresh", R"([{"id":1},{"id":"bad/id"}])", "Document 2 of the batch has an invalid primary key"},
    };
    for (const Refusal &c : cases) {
        EXPECT_EQ(korrin_documents_add(c.uid, c.body.c_str()), -1) << "uid " << c.uid << " body " << c.body;
        EXPECT_NE(error().find(c.message), std::string::npos)
            << "uid " << c.uid << " body " << c.body << "\n got: " << error();
    }
    EXPECT_EQ(std::string(korrin_indexes_list_json()).find("fresh"), std::string::npos);
    const char *stats = korrin_index_stats_json("movies");
    ASSERT_NE(stats, nullptr);
    EXPECT_NE(std::string(stats).find("\"document_count\":1,"), std::string::npos) << stats;
}

// A batch of hundreds of documents is read ahead of the writer, on its own
// thread, and written while it is read: a fault deep inside must still leave
// nothing of the batch behind, and a good one must index every document.
TEST_F(AddsTest, BigBatchesAreWholeOrNothing)
{
    auto batch = [](int n, int bad, const std::string &fault) {
        std::string body = "[";
        for (int i = 1; i <= n; ++i) {
            if (i > 1) body += ',';
            if (i == bad) body += fault;
            else if (i == n) body += R"({"id":5,"title":"Replaced five"})";  // an id seen before in the batch
            else body += "{\"id\":" + std::to_string(i) + ",\"title\":\"" + (i == 123 ? "Xylophonist" : "Plain") +
                         "\",\"genre\":\"g" + std::to_string(i % 7) + "\"}";
        }
        return body + "]";
    };
    ASSERT_EQ(add("movies", R"({"id":"keep","title":"Kept"})"), 1);
    for (const char *uid : {"movies", "fresh"}) {
        EXPECT_EQ(korrin_documents_add(uid, batch(400, 300, R"({"title":"no id"})").c_str()), -1);
        EXPECT_NE(error().find("Document 300 of the batch has no primary key"), std::string::npos) << error();
        EXPECT_EQ(korrin_documents_add(uid, batch(400, 399, "[").c_str()), -1);
        EXPECT_NE(error().find("not valid JSON"), std::string::npos) << error();
    }
    EXPECT_EQ(std::string(korrin_indexes_list_json()).find("fresh"), std::string::npos);
    EXPECT_NE(std::string(korrin_index_stats_json("movies")).find("\"document_count\":1,"), std::string::npos);

    ASSERT_EQ(add("movies", batch(400, 0, "")), 400);
    EXPECT_EQ(std::string(korrin_index_stats_json("movies")),
              R"({"document_count":400,"is_indexing":false,"field_distribution":{"genre":398,"id":400,"title":400}})");
    EXPECT_EQ(get("movies", "5"), R"({"id":5,"title":"Replaced five"})");
    // The words of the batch reached the vocabulary: a typo finds them.
    const char *hits = korrin_search("movies", "xylophonst", 20, 0);
    ASSERT_NE(hits, nullptr) << error();
    EXPECT_NE(std::string(hits).find("\"id\":123"), std::string::npos) << hits;
    hits = korrin_search("movies", "replaced", 20, 0);
    ASSERT_NE(hits, nullptr) << error();
    EXPECT_NE(std::string(hits).find("\"id\":5"), std::string::npos) << hits;
    EXPECT_EQ(std::string(korrin_search("movies", "g6", 1000, 0)).find("\"id\":5,"), std::string::npos)
        << "the replaced text is gone from the index";
}

TEST_F(AddsTest, UidRuleHoldsForEveryOperation)
{
    const std::string too_long(128, 'a');
    const std::string longest(127, 'a');
    for (const char *uid : {"", "a b", "é", "a/b", "a.b", too_long.c_str()}) {
        EXPECT_NE(korrin_index_create(uid, "id"), 0) << uid;
        EXPECT_NE(korrin_index_delete(uid), 0) << uid;
        EXPECT_EQ(korrin_search(uid, "", 20, 0), nullptr) << uid;
        EXPECT_EQ(korrin_index_stats_json(uid), nullptr) << uid;
        EXPECT_EQ(korrin_document_get(uid, "1"), nullptr) << uid;
        EXPECT_NE(korrin_document_delete(uid, "1"), 0) << uid;
        EXPECT_NE(error().find("1 to 127 bytes"), std::string::npos) << uid << ": " << error();
    }
    EXPECT_EQ(korrin_index_create(nullptr, "id"), 1);
    EXPECT_EQ(korrin_index_create(longest.c_str(), "id"), 0) << error();
    EXPECT_EQ(korrin_index_create("A-z_09", "id"), 0) << error();
}

TEST_F(AddsTest, IndexRefusalsNameTheIndex)
{
    ASSERT_EQ(korrin_index_create("movies", "movie_id"), 0) << error();
    EXPECT_NE(korrin_index_create("movies", "id"), 0);
    EXPECT_EQ(error(), "Index `movies` already exists.");
    EXPECT_NE(korrin_index_create("books", ""), 0);
    EXPECT_NE(error().find("The primary key of index `books` must not be empty."), std::string::npos);
    EXPECT_NE(korrin_index_create("books", nullptr), 0);
    EXPECT_NE(korrin_index_delete("nope"), 0);
    EXPECT_EQ(error(), "Index `nope` not found.");
    EXPECT_EQ(korrin_search("nope", "x", 20, 0), nullptr);
    EXPECT_EQ(error(), "Index `nope` not found.");
    EXPECT_NE(korrin_document_delete("nope", "1"), 0);
    EXPECT_EQ(error(), "Index `nope` not found.");
    EXPECT_NE(korrin_document_delete("movies", "42"), 0);
    EXPECT_EQ(error(), "Document `42` not found in index `movies`.");
    EXPECT_NE(korrin_document_delete("movies", nullptr), 0);
    // Case matters: Movies is another index.
    EXPECT_EQ(korrin_index_create("Movies", "id"), 0) << error();
    EXPECT_EQ(korrin_index_delete("movies"), 0) << error();
    EXPECT_EQ(korrin_index_delete("movies"), 1);
    EXPECT_NE(korrin_index_stats_json("Movies"), nullptr);
}

// Values come back exactly as sent: number text, escapes, unicode, nesting,
// member order, duplicates of an id in one batch (last wins).
TEST_F(AddsTest, DocumentsRoundTripExactly)
{
    struct Case {
        const char *sent;
        const char *id;
        const char *stored;
    } cases[] = {
        {R"({"id":1,"price":1.50})", "1", R"({"id":1,"price":1.50})"},
        {R"({"id":2,"big":123456789012345678901234567890,"neg":-0.0e+10})", "2",
         R"({"id":2,"big":123456789012345678901234567890,"neg":-0.0e+10})"},
        {R"({ "z" : 1 , "id" : "b-3", "a" : [ 1 , { } ] })", "b-3", R"({"z":1,"id":"b-3","a":[1,{}]})"},
        {R"({"id":"u","t":"Caf\u00e9 \ud83d\ude00 \"q\" \\ \n \t"})", "u",
         "{\"id\":\"u\",\"t\":\"Caf\xC3\xA9 \xF0\x9F\x98\x80 \\\"q\\\" \\\\ \\n \\t\"}"},
        {R"({"id":"n","deep":{"a":{"b":[null,true,false,"x"]}}})", "n", R"({"id":"n","deep":{"a":{"b":[null,true,false,"x"]}}})"},
        {R"({"id":-5})", "-5", R"({"id":-5})"},
        {R"({"id":99999999999999999999999})", "99999999999999999999999", R"({"id":99999999999999999999999})"},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(add("docs", c.sent), 1) << c.sent;
        EXPECT_EQ(get("docs", c.id), c.stored) << c.sent;
    }
    EXPECT_EQ(get("docs", "missing"), "<null>");
    EXPECT_EQ(get("docs", nullptr), "<null>");
    EXPECT_EQ(get("nope", "1"), "<null>");
}

TEST_F(AddsTest, BodyFormsAndCounts)
{
    struct Case {
        std::string body;
        int count;
    } cases[] = {
        {"[]", 0},
        {R"([{"id":1},{"id":2}])", 2},
        {R"({"id":3})", 1},
        {"{\"id\":4}\n{\"id\":5}", 2},
        {"\r\n{\"id\":6}\r\n\r\n  \n{\"id\":7}\r\n", 2},
        {R"([{"id":8},{"id":8,"v":2},{"id":8,"v":3}])", 3},
        {"\xEF\xBB\xBF[{\"id\":9}]", 1},
        {"\xEF\xBB\xBF{\"id\":10}\n{\"id\":11}", 2},
    };
    for (const auto &c : cases) EXPECT_EQ(add("forms", c.body), c.count) << c.body;
    EXPECT_EQ(get("forms", "8"), R"({"id":8,"v":3})");
    const char *stats = korrin_index_stats_json("forms");
    ASSERT_NE(stats, nullptr);
    EXPECT_EQ(std::string(stats), R"({"document_count":11,"is_indexing":false,"field_distribution":{"id":11,"v":1}})");
}

TEST_F(AddsTest, EmptyBatchCreatesNoIndex)
{
    EXPECT_EQ(add("ghost", "[]"), 0);
    EXPECT_STREQ(korrin_indexes_list_json(), "[]");
}

TEST_F(AddsTest, PrimaryKeyInference)
{
    struct Case {
        const char *uid;
        const char *first;
        const char *key;
    } cases[] = {
        {"a", R"({"movie_id":1,"id":"x","bookId":3})", "id"},
        {"b", R"({"title":"t","movieId":7})", "movieId"},
        {"c", R"({"ID":7,"name":"n"})", "ID"},
        {"d", R"({"isbn_ID":"x","name":1})", "isbn_ID"},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(add(c.uid, c.first), 1) << c.first;
        std::string list = korrin_indexes_list_json();
        std::string want = std::string("{\"name\":\"") + c.uid + "\",\"primary_key\":\"" + c.key + "\"";
        EXPECT_NE(list.find(want), std::string::npos) << c.first << "\n" << list;
    }
    // "void" ends in "id" too, so this first document has two candidates.
    EXPECT_EQ(korrin_documents_add("e", R"({"isbn_ID":"x","void":1})"), -1);
}

TEST_F(AddsTest, ReplaceKeepsTheListingPlace)
{
    ASSERT_EQ(add("m", R"([{"id":"a","n":1},{"id":"b","n":1},{"id":"c","n":1}])"), 3);
    ASSERT_EQ(add("m", R"({"id":"a","n":2,"extra":true})"), 1);
    ASSERT_EQ(add("m", R"({"id":"d"})"), 1);
    const char *r = korrin_search("m", "", 20, 0);
    ASSERT_NE(r, nullptr);
    EXPECT_NE(std::string(r).find(R"("hits":[{"id":"a","n":2,"extra":true},{"id":"b","n":1},{"id":"c","n":1},{"id":"d"}])"),
              std::string::npos)
        << r;
    EXPECT_STREQ(korrin_index_stats_json("m"),
                 R"({"document_count":4,"is_indexing":false,"field_distribution":{"extra":1,"id":4,"n":3}})");
    EXPECT_EQ(korrin_document_delete("m", "a"), 0) << error();
    EXPECT_STREQ(korrin_index_stats_json("m"),
                 R"({"document_count":3,"is_indexing":false,"field_distribution":{"id":3,"n":2}})");
    EXPECT_EQ(get("m", "a"), "<null>");
    EXPECT_EQ(korrin_document_delete("m", "a"), 1);
}

TEST_F(AddsTest, IndexListIsSortedWithTimes)
{
    EXPECT_STREQ(korrin_indexes_list_json(), "[]");
    for (const char *uid : {"zeta", "Alpha", "alpha", "mid"}) ASSERT_EQ(korrin_index_create(uid, "key"), 0) << uid;
    std::string list = korrin_indexes_list_json();
    std::regex shape(R"re(\[(\{"name":"(Alpha|alpha|mid|zeta)","primary_key":"key","created_at":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ","updated_at":"[^"]+"\},?){4}\])re");
    EXPECT_TRUE(std::regex_match(list, shape)) << list;
    EXPECT_LT(list.find("Alpha"), list.find("alpha"));
    EXPECT_LT(list.find("alpha"), list.find("mid"));
    EXPECT_LT(list.find("mid"), list.find("zeta"));
    ASSERT_EQ(korrin_index_delete("mid"), 0);
    EXPECT_EQ(std::string(korrin_indexes_list_json()).find("mid"), std::string::npos);
}

TEST_F(AddsTest, ReturnedTextsStayValidUntilCleanup)
{
    ASSERT_EQ(add("m", R"([{"id":1,"t":"one"},{"id":2,"t":"two"}])"), 2);
    const char *one = korrin_document_get("m", "1");
    EXPECT_EQ(korrin_index_delete("nope"), 1);
    const char *first_error = korrin_last_error();
    const char *two = korrin_document_get("m", "2");
    EXPECT_EQ(korrin_index_delete("gone"), 1);
    EXPECT_STREQ(one, R"({"id":1,"t":"one"})");
    EXPECT_STREQ(two, R"({"id":2,"t":"two"})");
    EXPECT_STREQ(first_error, "Index `nope` not found.");
    EXPECT_STREQ(korrin_last_error(), "Index `gone` not found.");
}

TEST(EngineLifecycle, CallsBeforeInitFailCleanly)
{
    korrin_cleanup();
    korrin_cleanup();  // twice is harmless
    EXPECT_EQ(korrin_search("m", "", 20, 0), nullptr);
    EXPECT_NE(std::string(korrin_last_error()).find("not started"), std::string::npos);
    EXPECT_EQ(korrin_documents_add("m", "[]"), -1);
    EXPECT_STREQ(korrin_indexes_list_json(), "[]");
    EXPECT_EQ(korrin_init(nullptr), 1);
    EXPECT_EQ(korrin_init(""), 1);
}

}  // namespace

namespace {

// Nesting far deeper than any C stack allows recursion for: stored, found,
// returned and deleted like any document.
TEST_F(AddsTest, DeeplyNestedDocumentsRoundTrip)
{
    std::string deep = "{\"id\":1,\"a\":";
    for (int i = 0; i < 100000; ++i) deep += "[";
    deep += "\"bottom\"";
    for (int i = 0; i < 100000; ++i) deep += "]";
    deep += "}";
    ASSERT_EQ(add("deep", deep), 1);
    EXPECT_EQ(get("deep", "1"), deep);
    const char *r = korrin_search("deep", "bottom", 0, 0);
    ASSERT_NE(r, nullptr);
    EXPECT_NE(std::string(r).find("\"estimatedTotalHits\":1}"), std::string::npos);
    EXPECT_EQ(korrin_document_delete("deep", "1"), 0) << error();
}

}  // namespace
