// Query parsing (words, phrases, runs of unspaced characters), the spaces
// set around unspaced characters, and which column each value goes to.
#include "with_tokenizer.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <yyjson.h>

#include <cstring>
#include <memory>
#include <set>

namespace korrin {
namespace {

class Words : public WithTokenizer {
protected:
    // Units written as: word, word* (prefix), "a b" (phrase), "a b"* .
    std::string parsed(std::string_view query)
    {
        std::vector<QueryUnit> units;
        Status st = parse_query(tok_, query, true, units);
        if (!st.is_ok()) return "error: " + st.message();
        std::string out;
        for (const QueryUnit &u : units) {
            if (!out.empty()) out += ' ';
            std::string inner;
            for (const std::string &t : u.tokens) inner += (inner.empty() ? "" : " ") + t;
            out += u.phrase ? "\"" + inner + "\"" : inner;
            if (u.prefix) out += '*';
        }
        return out;
    }
};

TEST_F(Words, SplitsQueriesIntoUnits)
{
    struct Case {
        const char *query, *want;
    } cases[] = {
        {"", ""},
        {"   ", ""},
        {"Dune", "dune*"},
        {"CRÈME Brûlée", "creme brulee*"},
        {"harry potter goblet", "harry potter goblet*"},
        {"\"new york\"", "\"new york\""},
        {"escape \"new york\"", "escape \"new york\""},
        {"\"new york\" escape", "\"new york\" escape*"},
        {"\"new yo", "\"new yo\"*"},             // quote not closed yet: still typing
        {"harry pot ", "harry pot"},            // a space after the last word ends it
        {"dune\t", "dune"},
        {"dune\xE3\x80\x80", "dune"},             // the ideographic space
        {"dune\xC2\xA0", "dune"},                  // a no-break space
        {"harry pot \"", "harry pot"},
        {"\"new yo ", "\"new yo\""},
        {"caf\xC3\xA9", "cafe*"},                  // a last letter of two bytes is still typing
        {"caf*", "caf*"},
        {"\"dune\"", "\"dune\""},                // a quoted word is exact
        {"\"\" dune", "dune*"},                  // empty quotes are nothing
        {"東京", "\"東 京\""},
        {"東京 タワー", "\"東 京\" \"タ ワ ー\""},
        {"東京tower", "\"東 京\" tower*"},
        {"tower東京", "tower \"東 京\""},
        {"กรุงเทพ", "\"ก ร ง เ ท พ\""},          // a vowel mark does not split the run
        {"pokémon-red!", "pokemon red*"},
        {"AND OR NOT NEAR *", "and or not near*"},  // no query syntax reaches the index
    };
    for (const Case &c : cases) EXPECT_EQ(parsed(c.query), c.want) << "query: " << c.query;
}

TEST(Segmenting, SetsUnspacedCharactersApart)
{
    struct Case {
        const char *text, *want;
    } cases[] = {
        {"plain text", "plain text"},
        {"Zürich café", "Zürich café"},
        {"東京", " 東  京 "},
        {"東京tower", " 東  京 tower"},
        {"ก่", " ก ่"},     // the mark stays after its letter
        {"서울 여행", "서울 여행"},  // Korean is written with spaces
    };
    for (const Case &c : cases) {
        std::string out;
        append_segmented(out, c.text, true);
        EXPECT_EQ(out, c.want) << c.text;
    }
}

// Letters the tokenizer keeps become what people type for them, only in
// texts of the current form, and only from where the appended text starts.
TEST(Segmenting, FoldsLettersPeopleTypeOtherwise)
{
    struct Case {
        const char *text, *folded;
    } cases[] = {
        {"Łódź", "Lódź"},
        {"Straße STRASSE ẞ", "Strasse STRASSE SS"},
        {"ÆSIR Œuvre æ œ", "AESIR OEuvre ae oe"},
        {"København Đà Lạt ðþÞ", "Kobenhavn Dà Lạt dthTH"},
        {"Kırmızı ħ Ħ ŧ Ŧ ŀ Ŀ ĳ Ĳ", "Kirmizi h H t T l L ij IJ"},
        {"ﬁnance ﬂ ﬀ ﬃ ﬄ ﬅ ﬆ", "finance fl ff ffi ffl st st"},
        {"ＡＢＣ　１２３！ｚ", "ABC\xE3\x80\x80" "123!z"},  // the ideographic space stays
        {"plain 東京", "plain  東  京 "},
        {"ｺｰﾋｰ ｶﾞｯｺｳ ﾊﾟﾝ", " コ  ー  ヒ  ー   ガ  ッ  コ  ウ   パ  ン "},  // half-width, marks joined
        {"か\u3099っこう ハ\u309A ゙", " が  っ  こ  う   パ  ゙"},  // decomposed; a lone mark stays
        {"\u1112\u1161\u11AB\u1100\u1173\u11AF \u1100x \uAC00\u11A8", "한글 \u1100x 각"},  // Hangul letter by letter
    };
    for (const Case &c : cases) {
        std::string out = "Ł:";
        append_segmented(out, c.text, true);
        EXPECT_EQ(out, std::string("Ł:") + c.folded) << c.text;
        std::string original;
        append_segmented(original, c.text, false);
        std::string raw;
        append_segmented_raw(raw, c.text);
        EXPECT_EQ(original, raw) << c.text;  // no Greek or Cyrillic here: untouched
    }
}

TEST(Columns, FollowTheDocumentsAttributeOrder)
{
    struct Case {
        const char *json;
        std::vector<std::string> want;
    } cases[] = {
        {R"({"id":1,"title":"Dune","overview":"Sand","tags":["a","b"]})", {"Dune", "Sand", "a\nb", ""}},
        {R"({"overview":"Sand","title":"Dune"})", {"Sand", "Dune", "", ""}},
        {R"({"a":"1","b":"2","c":"3","d":"4","e":"5"})", {"1", "2", "3", "4\n5"}},
        {R"({"n":5,"x":null,"nested":{"k":"v","deep":["w"]}})", {"v\nw", "", "", ""}},
        {R"({"t":"東京"})", {" 東  京 ", "", "", ""}},
        {R"([1,2])", {"", "", "", ""}},
    };
    for (const Case &c : cases) {
        yyjson_doc *doc = yyjson_read(c.json, std::strlen(c.json), 0);
        ASSERT_NE(doc, nullptr) << c.json;
        std::string cols[kTextColumns], broken[kTextColumns];
        column_texts(yyjson_doc_get_root(doc), cols, false);
        column_texts(yyjson_doc_get_root(doc), broken, true);
        yyjson_doc_free(doc);
        EXPECT_EQ(std::vector<std::string>(cols, cols + kTextColumns), c.want) << c.json;
        // With breaks, each join gains the break word and nothing else moves.
        for (int i = 0; i < kTextColumns; ++i) {
            std::string want;
            for (char ch : cols[i]) want += ch == '\n' ? "\n" + std::string(kValueBreak) + "\n" : std::string(1, ch);
            EXPECT_EQ(broken[i], want) << c.json << " column " << i;
        }
    }
}

}  // namespace
}  // namespace korrin

namespace korrin {
namespace {

TEST(TermSetTest, KeepsEachWordOnceThroughGrowth)
{
    TermSet set;
    std::set<std::string> want;
    for (int round = 0; round < 3; ++round)
        for (int i = 0; i < 5000; ++i) {
            std::string w = "w" + std::to_string(i * 7919 % 4001) + (i % 3 ? "é" : "東");
            set.add(w);
            want.insert(w);
        }
    set.add("");  // not a word
    std::vector<std::string_view> got = set.terms();
    EXPECT_EQ(set.size(), want.size());
    EXPECT_EQ(std::set<std::string>(got.begin(), got.end()), want);
}

}  // namespace
}  // namespace korrin

namespace korrin {
namespace {

// The vocabulary of a batch is split apart from the full-text table, by the
// same tokenizer: both must agree on every word, or typos and prefixes would
// look for words the table does not have (or miss ones it has).
TEST(VocabularyTest, CollectsExactlyWhatTheTableIndexes)
{
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    std::unique_ptr<sqlite3, int (*)(sqlite3 *)> owner(db, sqlite3_close);
    std::string create = std::string("CREATE VIRTUAL TABLE f USING fts5(a, b, content='', tokenize='") + kTokenizer +
                         "'); CREATE VIRTUAL TABLE words USING fts5vocab(f, 'row');";
    ASSERT_EQ(sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);

    const char *rows[][2] = {
        {"Crème BRÛLÉE", "l'été à Zürich, 2024-05-12"},
        {"", "東京 タワー Ρώμη Ёлка"},
        {"naïve café", "CAFÉ naive ﬁne Straße"},
    };
    Tokenizer tok;
    ASSERT_TRUE(tok.open(db).is_ok());
    TermSet collected;
    sqlite3_stmt *ins = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO f(rowid, a, b) VALUES(?1, ?2, ?3)", -1, &ins, nullptr), SQLITE_OK);
    for (int r = 0; r < 3; ++r) {
        std::string text[2];
        for (int c = 0; c < 2; ++c) {
            append_segmented(text[c], rows[r][c], true);
            ASSERT_TRUE(tok.collect(text[c], collected).is_ok());
            sqlite3_bind_text(ins, c + 2, text[c].c_str(), -1, SQLITE_TRANSIENT);
        }
        sqlite3_bind_int(ins, 1, r + 1);
        EXPECT_EQ(sqlite3_step(ins), SQLITE_DONE);
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);

    std::set<std::string> indexed;
    sqlite3_stmt *q = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT term FROM words", -1, &q, nullptr), SQLITE_OK);
    while (sqlite3_step(q) == SQLITE_ROW) indexed.insert(reinterpret_cast<const char *>(sqlite3_column_text(q, 0)));
    sqlite3_finalize(q);
    std::vector<std::string_view> words = collected.terms();
    EXPECT_EQ(std::set<std::string>(words.begin(), words.end()), indexed);
    EXPECT_TRUE(indexed.count("creme") && indexed.count("ρωμη") && indexed.count("елка")) << "accents fold";
}

}  // namespace
}  // namespace korrin
