// Search: which documents match, in which order, paging, totals, and that
// nothing a user types is read as full-text query syntax.
#include "engine_test_util.h"

#include <sqlite3.h>
#include <yyjson.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

class SearchTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        add("s", R"([
          {"id":1,"title":"Le Café de Flore","tags":["Paris","historic"]},
          {"id":2,"title":"Coffee house","info":{"city":"Zürich","notes":["Strong espresso"]}},
          {"id":3,"title":"CAFE culture","year":1950},
          {"id":4,"title":"Tea room","desc":"no coffee here, only caffeine-free tea"},
          {"id":5,"title":"Ελληνικό καφενείο","city":"Αθήνα"},
          {"id":6,"title":"Quoted \"NEAR\" OR AND NOT * ^ : - ( ) words"}])");
    }

    // Ids of the hits, in order, plus the reply's numbers.
    struct Reply {
        std::vector<std::string> ids;
        long long limit = -1, offset = -1, total = -1;
        std::string query;
        bool ok = false;
    };
    static Reply search(const char *uid, const char *q, int limit = 20, int offset = 0)
    {
        Reply r;
        const char *text = korrin_search(uid, q, limit, offset);
        if (!text) return r;
        yyjson_doc *doc = yyjson_read(text, strlen(text), 0);
        EXPECT_NE(doc, nullptr) << text;
        if (!doc) return r;
        yyjson_val *root = yyjson_doc_get_root(doc);
        size_t i, n;
        yyjson_val *hit;
        yyjson_arr_foreach(yyjson_obj_get(root, "hits"), i, n, hit)
        {
            yyjson_val *id = yyjson_obj_get(hit, "id");
            r.ids.push_back(yyjson_is_str(id) ? yyjson_get_str(id) : std::to_string(yyjson_get_sint(id)));
        }
        r.limit = yyjson_get_sint(yyjson_obj_get(root, "limit"));
        r.offset = yyjson_get_sint(yyjson_obj_get(root, "offset"));
        r.total = yyjson_get_sint(yyjson_obj_get(root, "estimatedTotalHits"));
        r.query = yyjson_get_str(yyjson_obj_get(root, "query")) ? yyjson_get_str(yyjson_obj_get(root, "query")) : "";
        r.ok = yyjson_is_int(yyjson_obj_get(root, "processingTimeMs"));
        yyjson_doc_free(doc);
        return r;
    }
};

TEST_F(SearchTest, MatchingRules)
{
    using Ids = std::vector<std::string>;
    struct Case {
        const char *query;
        Ids ids;
    } cases[] = {
        {"cafe", {"1", "3"}},                   // accents and case folded
        {"CAFÉ", {"1", "3"}},                   // "café" is not a prefix of "caffeine"
        {"caf", {"1", "3", "4"}},               // the last word is also a prefix
        {"zurich", {"2"}},                      // nested object value
        {"espresso strong", {"2"}},             // nested array, any order
        {"coffee", {"2", "4"}},
        {"coffee house", {"2"}},                // every word must match
        {"house coffee", {"2"}},
        {"coffee tea", {"4"}},
        {"paris", {"1"}},
        {"1950", {}},                           // numbers are not text
        {"καφε", {"5"}},
        {"ΑΘΉΝΑ", {"5"}},                       // Greek folds case and accents
        {"αθηνα", {"5"}},
        {"near", {"6"}},
        {"\"NEAR\" OR", {"6"}},
        {"NOT words", {"6"}},
        {"title:cafe", {}},                     // no column filters: "title" is a word
        {"-cafe", {"1", "3"}},
        {"caf*", {"1", "3", "4"}},
        {"(coffee", {"2", "4"}},
        {"NEAR(coffee tea)", {"6"}},            // nothing has all three words: the last
                                                // ones drop, and "near" is in document 6
        {"\"", {"1", "2", "3", "4", "5", "6"}},  // no word at all: the listing
        {"   ", {"1", "2", "3", "4", "5", "6"}},
        {"xyzzy", {}},
    };
    for (const auto &c : cases) {
        Reply r = search("s", c.query);
        EXPECT_TRUE(r.ok) << c.query;
        EXPECT_EQ(r.ids, c.ids) << "query [" << c.query << "]";
        EXPECT_EQ(r.total, static_cast<long long>(c.ids.size())) << c.query;
        EXPECT_EQ(r.query, c.query);
    }
}

// Short words match exactly, so only folding can bridge an accent there.
TEST_F(SearchTest, GreekAndCyrillicAccentsFoldLikeLatinOnes)
{
    ASSERT_EQ(add("g", R"([{"id":1,"title":"Ρώμη"},{"id":2,"title":"ёж"},{"id":3,"title":"Ρομα"}])"), 3);
    struct Case {
        const char *query;
        std::vector<std::string> ids;
    } cases[] = {
        {"ρωμη", {"1"}}, {"ΡΏΜΗ", {"1"}}, {"Ρώμη", {"1"}}, {"еж", {"2"}}, {"ёж", {"2"}}, {"ЁЖ", {"2"}},
    };
    for (const Case &c : cases) EXPECT_EQ(search("g", c.query).ids, c.ids) << c.query;
    // The folding is the index's: deleting re-creates the same words.
    ASSERT_EQ(korrin_document_delete("g", "1"), 0) << korrin_last_error();
    EXPECT_TRUE(search("g", "ρωμη").ids.empty());
}

TEST_F(SearchTest, LimitAndOffsetAreClamped)
{
    using Ids = std::vector<std::string>;
    struct Case {
        int limit, offset;
        long long want_limit, want_offset;
        Ids ids;
    } cases[] = {
        {2, 0, 2, 0, {"1", "2"}},   {2, 5, 2, 5, {"6"}},     {0, 0, 0, 0, {}},
        {-3, 0, 0, 0, {}},          {20, -4, 20, 0, {"1", "2", "3", "4", "5", "6"}},
        {5000, 0, 1000, 0, {"1", "2", "3", "4", "5", "6"}}, {10, 2147483647, 10, 2147483647, {}},
        {2147483647, 2147483647, 1000, 2147483647, {}},
    };
    for (const auto &c : cases) {
        Reply r = search("s", "", c.limit, c.offset);
        EXPECT_EQ(r.ids, c.ids) << c.limit << "/" << c.offset;
        EXPECT_EQ(r.limit, c.want_limit) << c.limit;
        EXPECT_EQ(r.offset, c.want_offset) << c.offset;
        EXPECT_EQ(r.total, 6);
        Reply w = search("s", "cafe", c.limit, c.offset);
        EXPECT_EQ(w.total, 2) << c.limit << "/" << c.offset;
    }
    EXPECT_EQ(search("s", "cafe", 1, 1).ids, (Ids{"3"}));
}

TEST_F(SearchTest, DeletedAndReplacedDocumentsLeaveTheIndex)
{
    ASSERT_EQ(korrin_document_delete("s", "2"), 0);
    EXPECT_TRUE(search("s", "zurich").ids.empty());
    ASSERT_EQ(add("s", R"({"id":1,"title":"Bakery"})"), 1);
    EXPECT_EQ(search("s", "flore").ids, std::vector<std::string>{});
    EXPECT_EQ(search("s", "bakery").ids, std::vector<std::string>{"1"});
    EXPECT_EQ(search("s", "cafe").ids, std::vector<std::string>{"3"});
    // A NUL inside a text: the words on both sides of it are indexed, and
    // both leave again.
    ASSERT_EQ(add("s", R"({"id":7,"title":"before\u0000after"})"), 1);
    EXPECT_EQ(search("s", "before").ids, std::vector<std::string>{"7"});
    EXPECT_EQ(search("s", "after").ids, std::vector<std::string>{"7"});
    ASSERT_EQ(add("s", R"({"id":7,"title":"Pastry"})"), 1);
    EXPECT_TRUE(search("s", "before").ids.empty());
    EXPECT_TRUE(search("s", "after").ids.empty());
}

// Values sharing a column (array elements, nested values, attributes past
// the last column's own) are not neighbours: a phrase never runs from one
// into the next, and a title saying the words together ranks first.
TEST_F(SearchTest, ValuesSharingAColumnAreNotNeighbours)
{
    using Ids = std::vector<std::string>;
    ASSERT_EQ(add("v", R"([
      {"id":1,"tags":["new","york"]},
      {"id":2,"title":"I love new york"},
      {"id":3,"a":"x","b":"x","c":"x","d":"alpha new","e":"york beta"},
      {"id":4,"info":{"city":"new","state":"york"}}])"),
              4);
    struct Case {
        const char *query;
        Ids want;
    } cases[] = {
        {"\"new york\"", {"2"}},
        {"\"york beta\"", {"3"}},  // a phrase inside one value still matches
        {"\"alpha new\"", {"3"}},
        {"\xF4\x8F\xBF\xBD", {"1", "2", "3", "4"}},  // the break typed alone is no word: the listing
    };
    for (const Case &c : cases) EXPECT_EQ(search("v", c.query).ids, c.want) << c.query;
    Ids both = search("v", "new york").ids;
    ASSERT_EQ(both.size(), 4u);
    EXPECT_EQ(both[0], "2");
    // Replacing and deleting take the breaks out with the words.
    ASSERT_EQ(add("v", R"({"id":1,"tags":["york","new"]})"), 1);
    EXPECT_EQ(search("v", "\"york new\"").ids, Ids{});
    ASSERT_EQ(korrin_document_delete("v", "3"), 0);
    EXPECT_EQ(search("v", "beta").ids, Ids{});
}

// Letters that do not decompose into a base and an accent, letters typed as
// two, ligatures and full-width forms match what people type for them.
TEST_F(SearchTest, LettersPeopleTypeOtherwiseMatch)
{
    using Ids = std::vector<std::string>;
    ASSERT_EQ(add("l", R"([
      {"id":1,"city":"Łódź"},
      {"id":2,"street":"Hauptstraße"},
      {"id":3,"title":"ÆSIR and the Œuvre"},
      {"id":4,"title":"København, Đà Lạt"},
      {"id":5,"title":"ﬁnance ＡＢＣ"},
      {"id":6,"title":"Kırmızı"},
      {"id":7,"title":"ｺｰﾋｰ"},
      {"id":8,"title":"か\u3099っこう"},
      {"id":9,"title":"\u1112\u1161\u11ab\u1100\u1173\u11af"}])"),
              9);
    struct Case {
        const char *query;
        Ids want;
    } cases[] = {
        {"lodz", {"1"}},          {"ŁÓDŹ", {"1"}},   {"hauptstrasse", {"2"}}, {"HAUPTSTRAẞE", {"2"}},
        {"aesir oeuvre", {"3"}},  {"kobenhavn", {"4"}}, {"da lat", {"4"}},     {"finance abc", {"5"}},
        {"ﬁnance", {"5"}},       {"kirmizi", {"6"}}, {"hauptstrase", {"2"}},  // and a typo on top
        {"コーヒー", {"7"}},       {"ｺｰﾋｰ", {"7"}},    {"がっこう", {"8"}},      // half-width; voicing joined
        {"かっこう", {}},           {"한글", {"9"}},                             // a different word; Hangul
    };
    for (const Case &c : cases) EXPECT_EQ(search("l", c.query).ids, c.want) << c.query;
}

// An index made before values got breaks between them keeps its texts as
// they were: its documents are replaced and deleted cleanly (taking them out
// with breaks they never had ran the full-text table's counts below zero,
// and a later delete was refused as a corrupt store).
TEST_F(SearchTest, IndexesMadeWithoutBreaksKeepThem)
{
    using Ids = std::vector<std::string>;
    ASSERT_EQ(add("o", R"([{"id":"k1","tags":["new","york"]},{"id":"k2","tags":["old","town"]}])"), 2);
    korrin_cleanup();
    std::string fts;
    {
        // Rewrite the index as the older engine wrote it: no breaks, and no
        // mark of the current form in the vocabulary.
        sqlite3 *db = nullptr;
        ASSERT_EQ(sqlite3_open((dir_ + "/korrin.db").c_str(), &db), SQLITE_OK);
        sqlite3_stmt *st = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT id FROM kr_index WHERE uid = 'o'", -1, &st, nullptr), SQLITE_OK);
        ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
        fts = "f_" + std::to_string(sqlite3_column_int64(st, 0));
        const std::string docs = "d_" + std::to_string(sqlite3_column_int64(st, 0));
        const std::string words = "v_" + std::to_string(sqlite3_column_int64(st, 0));
        sqlite3_finalize(st);
        // The older engine put U+10FFFD into the vocabulary when a document
        // held it alone; that must not pass for the current form.
        std::string sql = "BEGIN; DELETE FROM " + words + " WHERE term = ''; INSERT INTO " + words +
                          " VALUES(char(1114109));";
        for (const auto &[id, a, b] : {std::tuple{"k1", "new", "york"}, std::tuple{"k2", "old", "town"}}) {
            std::string seq = "(SELECT seq FROM " + docs + " WHERE id = '" + id + "')";
            sql += "INSERT INTO " + fts + "(" + fts + ", rowid, a0, a1, a2, a3) VALUES('delete', " + seq + ", '" + id +
                   "', '" + a + "' || char(10, 1114109, 10) || '" + b + "', '', '');";
            sql += "INSERT INTO " + fts + "(rowid, a0, a1, a2, a3) VALUES(" + seq + ", '" + id + "', '" + a +
                   "' || char(10) || '" + b + "', '', '');";
        }
        sql += "COMMIT;";
        char *err = nullptr;
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
        sqlite3_close(db);
    }
    ASSERT_EQ(korrin_init(dir_.c_str()), 0) << error();
    EXPECT_EQ(search("o", "\"new york\"").ids, Ids{"k1"});  // as the older engine found it
    ASSERT_EQ(add("o", R"([{"id":"k1","tags":["fresh"]},{"id":"k3","tags":["big","apple"],"city":"Łódź"}])"), 2);
    EXPECT_EQ(search("o", "Łódź").ids, Ids{"k3"});  // letters stay unfolded too
    EXPECT_EQ(search("o", "lodz").ids, Ids{});
    ASSERT_EQ(korrin_document_delete("o", "k2"), 0) << error();
    for (const char *q : {"new", "york", "old", "town"}) EXPECT_EQ(search("o", q).ids, Ids{}) << q;
    EXPECT_EQ(search("o", "fresh").ids, Ids{"k1"});
    EXPECT_EQ(search("o", "\"big apple\"").ids, Ids{"k3"});  // new documents follow the index
    ASSERT_EQ(korrin_document_delete("o", "k3"), 0) << error();
    ASSERT_EQ(korrin_document_delete("o", "k1"), 0) << error();
    korrin_cleanup();
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ + "/korrin.db").c_str(), &db), SQLITE_OK);
    char *err = nullptr;
    const std::string check = "INSERT INTO " + fts + "(" + fts + ") VALUES('optimize');" + "INSERT INTO " + fts + "(" +
                              fts + ") VALUES('integrity-check');";
    EXPECT_EQ(sqlite3_exec(db, check.c_str(), nullptr, nullptr, &err), SQLITE_OK)
        << (err ? err : "");
    sqlite3_close(db);
    ASSERT_EQ(korrin_init(dir_.c_str()), 0) << error();
}

TEST_F(SearchTest, TotalIsExactToAThousandThenEstimated)
{
    // 3000 documents; every third says "rare", every other one "common".
    std::string body = "[";
    for (int i = 1; i <= 3000; ++i) {
        body += (i > 1 ? "," : "");
        body += "{\"id\":" + std::to_string(i) + ",\"t\":\"" + (i % 2 ? "common" : "plain") +
                (i % 3 == 0 ? " rare" : "") + "\"}";
    }
    body += "]";
    ASSERT_EQ(add("big", body), 3000);
    EXPECT_EQ(search("big", "rare").total, 1000);  // exactly 1000 matches
    EXPECT_EQ(search("big", "").total, 3000);
    long long common = search("big", "common").total;  // 1500 matches
    EXPECT_GT(common, 1350);
    EXPECT_LT(common, 1650);
    Reply deep = search("big", "common", 10, 1495);  // a walk past the first 1001 counts exactly
    EXPECT_EQ(deep.ids, (std::vector<std::string>{"2991", "2993", "2995", "2997", "2999"}));
    EXPECT_EQ(deep.total, 1500);
    EXPECT_EQ(search("big", "common rare").total, 500);
}

// Words of every batch reach the typo and prefix vocabulary, whether the
// batch's connection met the full-text table first in this batch or in a
// search before it.
TEST_F(SearchTest, EveryBatchFeedsTheVocabulary)
{
    using Ids = std::vector<std::string>;
    ASSERT_EQ(add("s", R"({"id":7,"title":"strawberry"})"), 1);
    korrin_cleanup();
    ASSERT_EQ(korrin_init(dir_.c_str()), 0) << error();
    EXPECT_EQ(search("s", "flore").ids, (Ids{"1"}));  // opens the table first
    ASSERT_EQ(add("s", R"([{"id":8,"title":"blueberry"},{"id":9,"desc":"raspberries"}])"), 2);
    struct Case {
        const char *query;
        Ids want;
    } cases[] = {{"strawbery", {"7"}}, {"bluebery", {"8"}}, {"rasberries", {"9"}}, {"blueb", {"8"}},
                 {"strawberri", {"7"}}, {"raspberr", {"9"}}};
    for (const Case &c : cases) EXPECT_EQ(search("s", c.query).ids, c.want) << c.query;
    korrin_cleanup();
    ASSERT_EQ(korrin_init(dir_.c_str()), 0) << error();
    for (const Case &c : cases) EXPECT_EQ(search("s", c.query).ids, c.want) << "reopened: " << c.query;
}

}  // namespace
