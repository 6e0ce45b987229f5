// Acceptance checks of the engine's promises that the other engine tests
// leave open: refused uids quoted whole, the document named when a batch is
// not valid JSON, integer ids by value, field counts when a batch replaces
// its own documents, and the settings every store connection runs with.
#include "engine_test_util.h"
#include "kr_internal.h"

#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

using ContractTest = EngineTest;

// The message of a refused uid shows the value as sent, not a cut of it, and
// the rule, whatever the operation.
TEST_F(ContractTest, RefusedUidIsQuotedWholeByEveryOperation)
{
    struct Op {
        const char *name;
        bool (*refused)(const char *uid);
    };
    static const Op ops[] = {
        {"create", [](const char *u) { return korrin_index_create(u, "id") != 0; }},
        {"delete", [](const char *u) { return korrin_index_delete(u) != 0; }},
        {"add", [](const char *u) { return korrin_documents_add(u, R"({"id":1})") == -1; }},
        {"search", [](const char *u) { return korrin_search(u, "", 20, 0) == nullptr; }},
        {"stats", [](const char *u) { return korrin_index_stats_json(u) == nullptr; }},
        {"get", [](const char *u) { return korrin_document_get(u, "1") == nullptr; }},
        {"delete document", [](const char *u) { return korrin_document_delete(u, "1") != 0; }},
    };
    const std::string rule = "1 to 127 bytes of ASCII letters, digits, '-' and '_'";
    const std::string uids[] = {std::string(128, 'u'), std::string(100, 'a') + " " + std::string(100, 'b'), "a/b",
                                "x;y"};
    for (const std::string &uid : uids) {
        for (const Op &op : ops) {
            EXPECT_TRUE(op.refused(uid.c_str())) << op.name << " of " << uid;
            EXPECT_NE(error().find("Index uid `" + uid + "` is invalid"), std::string::npos)
                << op.name << ": " << error();
            EXPECT_NE(error().find(rule), std::string::npos) << op.name << ": " << error();
        }
    }
    EXPECT_STREQ(korrin_indexes_list_json(), "[]");
}

// A body that is not valid JSON is refused whole, and the message says
// where: the byte and the document it falls in.
TEST_F(ContractTest, InvalidJsonNamesTheDocument)
{
    ASSERT_EQ(add("m", R"({"id":"keep"})"), 1);
    struct Case {
        std::string body;
        const char *names;  // expected part of the message; nullptr: no document named
    } cases[] = {
        {R"([{"id":1},{"id":2},{"id":3,]])", "in document 3 of the batch."},
        {R"([{"id":1,"t":"a,],b"},{"id":2 "x":1}])", "in document 2 of the batch."},    // commas in strings
        {R"([{"id":1,"t":"q\",x"},{oops}])", "in document 2 of the batch."},             // escaped quote
        {R"([{"id":1,"a":[1,2,{"b":[3,4]}]},{"id":2,"t":"x)" "\xff" R"("}])", "in document 2 of the batch."},
        {"[{\"id\":1},\n  {\"id\":2},\n  {\"id\":3},\n  {\"id\":4}", "in document 4 of the batch."},  // cut short
        {R"({"id":1,"t":})", "in document 1 of the batch."},
        {"  [\n{\"id\":1", "in document 1 of the batch."},
        {"{\"id\":1}\n\n{\"id\":2}\n{bad}\n{\"id\":4}", "Line 4 of the body is not valid JSON"},
        {"{\"id\":1}\n\n{\"id\":2}\n{bad}\n{\"id\":4}", "in document 3 of the batch."},
        // A byte order mark is skipped, but counted in the positions.
        {"\xEF\xBB\xBF[{\"id\":1,}]", "comma is not allowed at byte 12, in document 1 of the batch."},
        {"\xEF\xBB\xBF{\"id\":1,}\n{\"id\":2}", "comma is not allowed at byte 11, in document 1 of the batch."},
        {"\xEF\xBB\xBF{\"id\":1}\n{\"id\":2,}", "Line 2 of the body is not valid JSON: trailing comma is not allowed at byte 8,"},
        {R"([{"id":1}] x)", nullptr},  // after the array: no document to name
        {"nonsense", nullptr},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(korrin_documents_add("m", c.body.c_str()), -1) << c.body;
        const std::string message = error();
        EXPECT_NE(message.find("is not valid JSON: "), std::string::npos) << c.body << "\n got: " << message;
        EXPECT_NE(message.find(" at byte "), std::string::npos) << c.body << "\n got: " << message;
        if (c.names)
            EXPECT_NE(message.find(c.names), std::string::npos) << c.body << "\n got: " << message;
        else
            EXPECT_EQ(message.find("in document"), std::string::npos) << c.body << "\n got: " << message;
    }
    EXPECT_STREQ(korrin_index_stats_json("m"),
                 R"({"document_count":1,"is_indexing":false,"field_distribution":{"id":1}})");
}

// An integer id is the integer's decimal text: -0 and 0 are one document,
// whose text is still kept exactly as sent.
TEST_F(ContractTest, IntegerIdsNameOneDocumentByValue)
{
    ASSERT_EQ(add("z", R"({"id":-0,"v":"minus zero"})"), 1);
    EXPECT_EQ(get("z", "0"), R"({"id":-0,"v":"minus zero"})");
    EXPECT_EQ(get("z", "-0"), "<null>");
    ASSERT_EQ(add("z", R"({"id":0,"v":"zero"})"), 1);
    EXPECT_EQ(get("z", "0"), R"({"id":0,"v":"zero"})");
    ASSERT_EQ(add("z", R"({"id":"0","v":"text"})"), 1);  // the string "0" names it too
    EXPECT_STREQ(korrin_index_stats_json("z"),
                 R"({"document_count":1,"is_indexing":false,"field_distribution":{"id":1,"v":1}})");
    EXPECT_EQ(korrin_document_delete("z", "0"), 0) << error();
}

// The edges of the id rule: the longest string and integer ids are kept and
// found again, one byte more refuses the batch.
TEST_F(ContractTest, IdLengthEdges)
{
    const std::string longest(511, 'k');
    const std::string digits(511, '7');
    struct Case {
        std::string value;  // as written in the document
        std::string id;     // as looked up; empty: refused
    } cases[] = {
        {"\"" + longest + "\"", longest},
        {"\"" + longest + "x\"", ""},
        {digits, digits},
        {digits + "7", ""},
        {"-" + std::string(510, '9'), "-" + std::string(510, '9')},
        {"\"-_\"", "-_"},
        {"\"\\u0041b\"", "Ab"},  // an escape is read before the rule applies
        {"\"a\\u0000\"", ""},
    };
    for (const Case &c : cases) {
        const std::string doc = "{\"id\":" + c.value + "}";
        const std::int32_t added = korrin_documents_add("ids", doc.c_str());
        if (c.id.empty()) {
            EXPECT_EQ(added, -1) << c.value;
            EXPECT_NE(error().find("Document 1 of the batch has an invalid primary key value"), std::string::npos)
                << c.value << ": " << error();
        } else {
            EXPECT_EQ(added, 1) << c.value << ": " << error();
            EXPECT_NE(get("ids", c.id.c_str()), "<null>") << c.value;
        }
    }
}

// Field counts stay right when a batch replaces documents it added itself,
// and when the replaced document is deleted afterwards.
TEST_F(ContractTest, FieldCountsFollowReplacesWithinOneBatch)
{
    ASSERT_EQ(add("f", R"([{"id":1,"a":1,"shared":1},{"id":2,"shared":2},{"id":1,"b":1},{"id":2,"shared":3,"c":[]}])"),
              4);
    EXPECT_EQ(get("f", "1"), R"({"id":1,"b":1})");
    EXPECT_STREQ(korrin_index_stats_json("f"),
                 R"({"document_count":2,"is_indexing":false,"field_distribution":{"b":1,"c":1,"id":2,"shared":1}})");
    ASSERT_EQ(korrin_document_delete("f", "2"), 0) << error();
    EXPECT_STREQ(korrin_index_stats_json("f"),
                 R"({"document_count":1,"is_indexing":false,"field_distribution":{"b":1,"id":1}})");
    const char *listing = korrin_search("f", "", 20, 0);
    ASSERT_NE(listing, nullptr);
    EXPECT_NE(std::string(listing).find(R"("hits":[{"id":1,"b":1}])"), std::string::npos) << listing;
}

// Only failures set the last error; a success leaves the latest failure's
// message in place.
TEST_F(ContractTest, LastErrorReportsTheLatestFailureOnly)
{
    EXPECT_STREQ(korrin_last_error(), "");
    ASSERT_EQ(add("e", R"({"id":1})"), 1);
    EXPECT_STREQ(korrin_last_error(), "");
    EXPECT_NE(korrin_index_create("e", "id"), 0);
    EXPECT_STREQ(korrin_last_error(), "Index `e` already exists.");
    ASSERT_NE(korrin_search("e", "", 20, 0), nullptr);
    EXPECT_STREQ(korrin_last_error(), "Index `e` already exists.");
    EXPECT_EQ(korrin_document_get("e", "2"), nullptr);
    EXPECT_STREQ(korrin_last_error(), "Document `2` not found in index `e`.");
}

// Every connection to the store, on a new store and on an existing one,
// commits durably (FULL in WAL mode) and waits for other writers.
TEST(StoreConnection, DurableAndWaitsForOthers)
{
    const std::string dir = make_temp_dir();
    for (const char *which : {"new store", "existing store"}) {
        korrin::Store store;
        ASSERT_TRUE(store.open(dir).is_ok()) << which;
        auto pragma = [&](const char *sql) {
            sqlite3_stmt *st = nullptr;
            std::string value;
            if (sqlite3_prepare_v2(store.db(), sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
                value = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
            sqlite3_finalize(st);
            return value;
        };
        EXPECT_EQ(pragma("PRAGMA journal_mode"), "wal") << which;
        // Set where it counts: on the connection that writes.
        ASSERT_TRUE(store.begin_write().is_ok()) << which;
        EXPECT_EQ(pragma("PRAGMA synchronous"), "2") << which;  // FULL
        EXPECT_EQ(pragma("PRAGMA cell_size_check"), "1") << which;
        store.rollback();
        EXPECT_GE(std::stol("0" + pragma("PRAGMA busy_timeout")), 5000) << which;
    }
    remove_tree(dir);
}

// A store file cut shorter than one page (SQLite would take 1 to 15 bytes
// for a new database) is refused and left as it is, never started afresh.
TEST(StoreFile, CutShorterThanAPageIsRefusedUntouched)
{
    const std::string dir = make_temp_dir();
    const std::string db = dir + "/korrin.db";
    for (std::uintmax_t size : {1u, 8u, 15u, 100u, 511u}) {
        korrin_cleanup();
        std::filesystem::remove(db);
        ASSERT_EQ(korrin_init(dir.c_str()), 0) << korrin_last_error();
        ASSERT_EQ(korrin_documents_add("kept", R"([{"id":1},{"id":2}])"), 2) << korrin_last_error();
        korrin_cleanup();  // the last connection folds the WAL into the file
        ASSERT_FALSE(std::filesystem::exists(db + "-wal")) << size;
        std::filesystem::resize_file(db, size);
        const std::string before = read_file(db);
        EXPECT_NE(korrin_init(dir.c_str()), 0) << size << " bytes were taken for a store";
        EXPECT_NE(std::string(korrin_last_error()).find("korrin.db` is unreadable or corrupt"), std::string::npos)
            << size << ": " << korrin_last_error();
        korrin_cleanup();
        EXPECT_EQ(read_file(db), before) << size << " bytes were modified";
    }
    // An empty file is a store whose creation never got going: it starts.
    std::filesystem::resize_file(db, 0);
    EXPECT_EQ(korrin_init(dir.c_str()), 0) << korrin_last_error();
    EXPECT_STREQ(korrin_indexes_list_json(), "[]");
    korrin_cleanup();
    remove_tree(dir);
}

}  // namespace

// An array body is cut into its documents without parsing it whole: brackets,
// commas and quotes inside strings must not move a cut.
TEST_F(ContractTest, ArrayIsCutAtItsOwnLevelOnly)
{
    struct Case {
        const char *body;
        const char *id;
        const char *stored;
    } cases[] = {
        {R"([ {"id":1,"t":"a],[b"} , {"id":2,"t":"}{"} ])", "2", R"({"id":2,"t":"}{"})"},
        {R"([{"id":3,"t":"q\"],\\"},{"id":4,"n":[[1],{"x":[2]}]}])", "3", R"({"id":3,"t":"q\"],\\"})"},
        {R"([{"id":4,"n":[[1],{"x":[2]}]},{"id":5,"u":"\u005d"}])", "4", R"({"id":4,"n":[[1],{"x":[2]}]})"},
        {"[\n\t{\"id\":6}\r\n]\n", "6", R"({"id":6})"},
        {R"([])", nullptr, nullptr},
    };
    for (const Case &c : cases) {
        const int added = add("cut", c.body);
        if (c.id == nullptr) {
            EXPECT_EQ(added, 0) << c.body;
            continue;
        }
        EXPECT_GT(added, 0) << c.body << ": " << error();
        const char *doc = korrin_document_get("cut", c.id);
        ASSERT_NE(doc, nullptr) << c.body;
        EXPECT_STREQ(doc, c.stored) << c.body;
    }
}
