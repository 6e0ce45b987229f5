// The ranking cascade over a small full-text table: each criterion in turn,
// each one breaking the ties of the one before, and the hit count.
#include "with_tokenizer.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <unordered_set>

namespace korrin {
namespace {

class Ranking : public WithTokenizer {
protected:
    void SetUp() override
    {
        WithTokenizer::SetUp();
        if (HasFatalFailure()) return;
        exec("CREATE TABLE d(seq INTEGER PRIMARY KEY, body TEXT);"
             "CREATE VIRTUAL TABLE f USING fts5(a0, a1, a2, a3, content='', columnsize=0,"
             " tokenize='unicode61 remove_diacritics 2');"
             "CREATE TABLE v(term TEXT PRIMARY KEY) WITHOUT ROWID;");
    }

    // Adds the next document; its columns in order.
    void add(std::vector<std::string> columns)
    {
        columns.resize(kTextColumns);
        std::string segmented[kTextColumns];
        TermSet terms;
        for (int c = 0; c < kTextColumns; ++c) {
            append_segmented(segmented[c], columns[c], true);
            ASSERT_TRUE(tok_.collect(segmented[c], terms).is_ok());
        }
        exec("INSERT INTO d(body) VALUES('{}')");
        sqlite3_int64 seq = sqlite3_last_insert_rowid(db_);
        sqlite3_stmt *s = nullptr;
        sqlite3_prepare_v2(db_, "INSERT INTO f(rowid, a0, a1, a2, a3) VALUES(?1, ?2, ?3, ?4, ?5)", -1, &s, nullptr);
        sqlite3_bind_int64(s, 1, seq);
        for (int c = 0; c < kTextColumns; ++c) sqlite3_bind_text(s, c + 2, segmented[c].c_str(), -1, SQLITE_TRANSIENT);
        ASSERT_EQ(sqlite3_step(s), SQLITE_DONE);
        sqlite3_finalize(s);
        sqlite3_prepare_v2(db_, "INSERT OR IGNORE INTO v VALUES(?1)", -1, &s, nullptr);
        for (std::string_view t : terms.terms()) {
            sqlite3_bind_text(s, 1, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
            sqlite3_step(s);
            sqlite3_reset(s);
        }
        sqlite3_finalize(s);
    }

    std::vector<std::int64_t> search(std::string_view query, std::int64_t need = 10, std::int64_t *total = nullptr)
    {
        std::vector<QueryUnit> units;
        EXPECT_TRUE(parse_query(tok_, query, true, units).is_ok());
        RankedHits hits;
        sqlite3_stmt *c = nullptr;
        sqlite3_prepare_v2(db_, "SELECT count(*) FROM d", -1, &c, nullptr);
        EXPECT_EQ(sqlite3_step(c), SQLITE_ROW);
        const std::int64_t documents = sqlite3_column_int64(c, 0);
        sqlite3_finalize(c);
        Status st = rank(db_, {"f", "v", "d", documents}, units, need, hits);
        EXPECT_TRUE(st.is_ok()) << st.message();
        if (total) *total = hits.total;
        return hits.rowids;
    }

    using Hits = std::vector<std::int64_t>;
};

TEST_F(Ranking, WholeMatchesBeforeTyposAndTyposWithinBudgetOnly)
{
    add({"tiny homes"});        // 1: one typo from holmes
    add({"sherlock holmes"});   // 2
    add({"holes in the road"}); // 3: one typo
    add({"hlomse"});            // 4: two edits, beyond a six-letter word's budget
    add({"cat"});               // 5
    add({"car"});               // 6: short words match only exactly
    EXPECT_EQ(search("holmes"), (Hits{2, 1, 3}));
    EXPECT_EQ(search("sherlcok"), (Hits{2}));  // a swap is one typo
    EXPECT_EQ(search("cat"), (Hits{5}));
}

TEST_F(Ranking, EveryWordOneEditAwayMatchesHoweverManyThereAre)
{
    // 40 neighbours of "house", the later ones in alphabetical order
    // included: none may be left out of the hits or the count.
    add({"house"});  // 1
    exec("BEGIN");
    for (char c = 'a'; c <= 'z'; ++c)
        if (c != 'e') add({std::string("hous") + c});
    for (const char *w : {"hause", "hoose", "houze", "douse", "louse", "mouse", "rouse", "souse", "hosue", "ohuse",
                          "houses", "housed", "hose", "hous", "ouse"})
        add({w});
    exec("COMMIT");
    std::int64_t total = 0;
    Hits hits = search("house ", 100, &total);
    EXPECT_EQ(total, 41);
    ASSERT_EQ(hits.size(), 41u);
    EXPECT_EQ(hits[0], 1);
    EXPECT_TRUE(std::find(hits.begin(), hits.end(), 26) != hits.end()) << "housz";
    // As the word being typed, its prefix neighbours count too: 25 more,
    // each its own neighbour of "house" ("aouse", "bouse"...).
    exec("BEGIN");
    for (char c = 'a'; c <= 'z'; ++c)
        if (c != 'h') add({std::string(1, c) + "ousekeeping"});
    exec("COMMIT");
    hits = search("house", 100, &total);
    EXPECT_EQ(total, 66);
    EXPECT_EQ(hits.size(), 66u);
}

TEST_F(Ranking, EveryUnitMatchesUnlessNoneHasThemAll)
{
    add({"potter"});              // 1: lacks the first word
    add({"harry"});               // 2
    add({"harry potter"});        // 3
    add({"harry potter goblet"}); // 4
    std::int64_t total = 0;
    EXPECT_EQ(search("harry potter", 10, &total), (Hits{3, 4}));
    EXPECT_EQ(total, 2);
    EXPECT_EQ(search("harry potter goblet", 10, &total), (Hits{4}));
    EXPECT_EQ(total, 1);
    // Nothing has every word: words go from the end until something matches.
    EXPECT_EQ(search("harry potter xyzzy", 10, &total), (Hits{3, 4}));
    EXPECT_EQ(total, 2);
    // Only the first word is left; those that also have a later word go first.
    EXPECT_EQ(search("harry xyzzy potter", 10, &total), (Hits{3, 4, 2}));
    EXPECT_EQ(total, 3);
    EXPECT_EQ(search("harry xyzzy potter goblet"), (Hits{4, 3, 2}));
    EXPECT_EQ(search("harry xyzzy goblet potter"), (Hits{4, 3, 2}));
    std::string unknown;
    for (int i = 0; i < 30; ++i) unknown += " xyzzy" + std::to_string(i);
    EXPECT_EQ(search("harry potter" + unknown, 10, &total), (Hits{3, 4}));
    EXPECT_EQ(total, 2);
    EXPECT_EQ(search("xyzzy harry", 10, &total), (Hits{}));
    EXPECT_EQ(total, 0);
    // Only the next three dropped words weigh; typos in them count as found.
    EXPECT_EQ(search("harry xyzzy goblit wand robe potter"), (Hits{4, 2, 3}));
    EXPECT_EQ(search("harry xyzzy wand robe cloak potter"), (Hits{2, 3, 4}));
}

TEST_F(Ranking, DocumentsWithLaterWordsAreRankedLikeTheRest)
{
    std::string filler;
    for (int i = 0; i < 20; ++i) filler += " filler" + std::to_string(i);
    add({"alpha" + filler + " beta delta"}); // 1: alpha and beta far apart
    add({"alpha beta delta"});               // 2
    add({"x", "alpha delta"});               // 3: second column
    add({"alpha delta"});                    // 4
    add({"alpha"});                          // 5: no later word
    // The unknown word drops the rest, but delta still ranks what is left,
    // and among those that have it closeness and columns still count.
    EXPECT_EQ(search("alpha beta zzzz delta"), (Hits{2, 1}));
    EXPECT_EQ(search("alpha zzzz delta"), (Hits{1, 2, 4, 3, 5}));
    add({"alpha deltaforce"});               // 6
    add({"alpha delt"});                     // 7
    // The last word typed is whole in 7, a prefix in 6 and the others.
    EXPECT_EQ(search("alpha zzzz delt"), (Hits{7, 1, 2, 4, 6, 3, 5}));
}

TEST_F(Ranking, FewerTyposBeforeProximityBeforeColumns)
{
    add({"", "new and old york"});           // 1: far apart
    add({"york new"});                       // 2: adjacent, reversed
    add({"", "new york"});                   // 3: phrase, second column
    add({"new york"});                       // 4: phrase, first column
    add({"sherlok holmes"});                 // 5: adjacent, one typo
    add({"sherlock", "the cases of holmes"}); // 6: no typo, apart
    EXPECT_EQ(search("new york"), (Hits{4, 3, 2, 1}));
    EXPECT_EQ(search("sherlock holmes"), (Hits{6, 5}));
}

TEST_F(Ranking, EveryTypoCountsInLongWords)
{
    // Three nine-letter words may have six typos in all; each one more
    // ranks lower, before closeness is asked.
    add({"chokolade elephinds buttarfli"});       // 1: six typos
    add({"chokolade elephinds butterfli"});       // 2: five
    add({"chokolade elephints", "butterfli"});    // 3: four, far apart
    add({"chocolate elephints", "butterfly"});    // 4: one
    EXPECT_EQ(search("chocolate elephants butterfly"), (Hits{4, 3, 2, 1}));
}

TEST_F(Ranking, ClosenessCountsForATypoAndAPrefixOfManyWords)
{
    std::string filler;
    for (int i = 0; i < 20; ++i) filler += " filler" + std::to_string(i);
    add({"cards" + filler + " house"}); // 1: far apart
    add({"cards house"});               // 2
    // Neighbours of "cardz", and words that "hous" begins: together more
    // pairs than are written out one by one.
    add({"carda cardy"});
    for (char c = 'a'; c <= 'p'; ++c) add({std::string("hous") + c});
    EXPECT_EQ(search("cardz hous", 2), (Hits{2, 1}));
    EXPECT_EQ(search("cards hous", 2), (Hits{2, 1}));
}

TEST_F(Ranking, WholeWordBeforePrefixThenListingOrder)
{
    add({"javascript"}); // 1
    add({"java"});       // 2
    add({"java island"}); // 3
    add({"", "java"});   // 4: later column beats whole-before-prefix
    EXPECT_EQ(search("java"), (Hits{2, 3, 1, 4}));
    EXPECT_EQ(search("jav"), (Hits{1, 2, 3, 4}));
}

TEST_F(Ranking, PrefixesOfEveryLengthFindEveryWord)
{
    // One letter, two letters, and a prefix with more words than are
    // spelled out: each way of searching a prefix finds the same documents.
    add({"c"});            // 1
    add({"cab"});          // 2
    add({"dog", "cobra"}); // 3
    add({"czech"});        // 4
    add({"dog"});          // 5
    exec("BEGIN");
    for (int i = 0; i < 70; ++i) add({"pre" + std::to_string(1000 + i)});  // 6..75
    exec("COMMIT");
    EXPECT_EQ(search("c"), (Hits{1, 2, 4, 3}));
    EXPECT_EQ(search("co"), (Hits{3}));
    EXPECT_EQ(search("cz"), (Hits{4}));
    std::int64_t total = 0;
    Hits pre = search("pre", 100, &total);
    EXPECT_EQ(pre.size(), 70u);
    EXPECT_EQ(total, 70);
    EXPECT_EQ(search("pre10", 100).size(), 70u);
    // Six letters: a typo is allowed, but the ten that begin so come first.
    EXPECT_EQ(search("pre105", 10), (Hits{6 + 50, 6 + 51, 6 + 52, 6 + 53, 6 + 54, 6 + 55, 6 + 56, 6 + 57, 6 + 58, 6 + 59}));
}

TEST_F(Ranking, LongQueriesWithATypoInEveryWordStillMatch)
{
    // Thirty words, each one edit off: 30 typos in all, far more ways to
    // spread them than are written out, so the coarse buckets must hold.
    std::string text, query;
    for (int i = 0; i < 30; ++i) {
        std::string w = "word" + std::string(1, static_cast<char>('a' + i % 26)) + std::string(1, static_cast<char>('a' + i / 26)) + "x";
        text += w + " ";
        query += w.substr(0, w.size() - 1) + "y ";
    }
    add({"something else"});  // 1
    add({text});              // 2
    std::int64_t total = 0;
    EXPECT_EQ(search(query, 10, &total), (Hits{2}));
    EXPECT_EQ(total, 1);
}

TEST_F(Ranking, PhrasesAreExactAndUnspacedTextMatchesAsSubstring)
{
    add({"new york"});     // 1
    add({"york new"});     // 2
    add({"new yorkk"});    // 3
    add({"東京タワー"});    // 4
    add({"京都の寺"});      // 5
    add({"กรุงเทพมหานคร"}); // 6
    EXPECT_EQ(search("\"new york\""), (Hits{1}));
    EXPECT_EQ(search("\"new yor"), (Hits{1, 3}));  // unclosed: last word still typed
    EXPECT_EQ(search("京タ"), (Hits{4}));
    EXPECT_EQ(search("京"), (Hits{4, 5}));
    EXPECT_EQ(search("京東"), (Hits{}));
    EXPECT_EQ(search("เทพ"), (Hits{6}));
    EXPECT_EQ(search("มหานคร"), (Hits{6}));
}

TEST_F(Ranking, StopsAtNeedAndCountsExactlyUpToAThousand)
{
    exec("BEGIN");
    for (int i = 0; i < 1000; ++i) add({i % 2 ? "common odd" : "common even"});
    exec("COMMIT");
    std::int64_t total = 0;
    Hits hits = search("common", 3, &total);
    EXPECT_EQ(hits, (Hits{1, 2, 3}));
    EXPECT_EQ(total, 1000);
    EXPECT_EQ(search("odd", 2, &total), (Hits{2, 4}));
    EXPECT_EQ(total, 500);
    exec("BEGIN");
    for (int i = 0; i < 2000; ++i) add({"common"});
    exec("COMMIT");
    search("common", 1, &total);
    EXPECT_GT(total, 2700);  // estimated beyond a thousand, from the share of the listing read
    EXPECT_LT(total, 3300);
    EXPECT_EQ(search("common", 0, &total), (Hits{}));
}

TEST_F(Ranking, EstimatesBeyondAThousandWhenMatchesComeInBlocks)
{
    // A batch of alike documents puts its matches side by side in the
    // listing; the estimate must not take one end of the listing for all.
    const int n = 6000;
    exec("BEGIN");
    for (int i = 1; i <= n; ++i) {
        std::string text = "doc";
        if (i <= 1001) text += " head";
        if (i > 3000) text += " tail";
        if (i > 2000 && i <= 4500) text += " middle";
        if (i % 3 == 0) text += " every";
        add({text});
    }
    exec("COMMIT");
    struct Case {
        const char *word;
        std::int64_t real, slack;
    } cases[] = {
        {"head", 1001, 0},   // the reads from both ends meet
        {"tail", 3000, 0},   // the ends are dense, so is what lies between
        {"middle", 2500, 0},
        {"every", 2000, 100},
        {"doc", n, 0},
    };
    for (const Case &c : cases) {
        std::int64_t total = 0;
        search(c.word, 1, &total);
        EXPECT_NEAR(total, c.real, c.slack) << c.word;
    }
}

TEST_F(Ranking, EstimatesABlockOfMatchesBetweenSparseEnds)
{
    // Neither end of the listing shows the block in the middle.
    exec("BEGIN");
    for (int i = 1; i <= 8000; ++i) add({i % 3 == 0 || (i > 3500 && i <= 4500) ? "bulge" : "flat"});
    exec("COMMIT");
    std::int64_t total = 0;
    search("bulge", 1, &total);
    EXPECT_NEAR(total, 2666 + 667, 150);  // the two reads alone say 2,667
}

TEST_F(Ranking, ABatchWhereASampleStartsDoesNotStandForItsPart)
{
    // Every tenth of 30,000 documents, and a batch of 200 alike ones where
    // the third of the samples between the two reads begins.
    exec("BEGIN");
    for (int i = 1; i <= 30000; ++i) add({i % 10 == 0 || (i >= 12510 && i < 12710) ? "speck" : "flat"});
    exec("COMMIT");
    std::int64_t total = 0;
    search("speck", 1, &total);
    EXPECT_NEAR(total, 3000 + 180, 150);
}

TEST_F(Ranking, CountsTypoMatchesOnceExactOnesPassAThousand)
{
    // "holmes" and "holmas" are one typo apart: a search for "holmes" finds
    // both. Wherever the typo matches sit in the listing, the total holds them.
    struct Layout {
        const char *name;
        int documents;
        std::string (*word)(int i);  // of document i, from 1
        int deleted_from, deleted_to;  // documents then deleted (all "other")
        const char *query;
        std::int64_t least, most;
    } layouts[] = {
        {"interleaved", 2500, [](int i) -> std::string { return i % 5 < 3 ? "holmes" : "holmas"; }, 0, -1, "holmes",
         2440, 2560},
        {"typos first", 10000,
         [](int i) -> std::string {
             return i == 500 || (i > 1000 && i <= 2100) ? "holmes" : i <= 1000 ? "holmas" : "other";
         },
         0, -1, "holmes", 2050, 2150},
        {"typos after", 10000, [](int i) -> std::string { return i <= 1100 ? "holmes" : "holmas"; }, 0, -1, "holmes",
         9800, 10000},
        // Typo matches in a block at each end: the middle holds none, which
        // only a sample of it shows.
        {"a typo block at each end", 20000,
         [](int i) -> std::string { return i <= 1100 ? "holmes" : i > 18900 ? "holmas" : "other"; }, 0, -1, "holmes",
         2100, 2300},
        {"typo blocks only", 20000,
         [](int i) -> std::string { return i <= 1100 ? "holmis" : i > 18900 ? "holmas" : "other"; }, 0, -1, "holmes",
         2100, 2300},
        {"typos thicker later", 10000,
         [](int i) -> std::string { return (i <= 5000 ? i % 100 != 0 : i % 2 == 0) ? "holmes" : "holmas"; }, 0, -1,
         "holmes", 9800, 10000},
        // Matches at both ends with nothing left between: the estimate of
        // the gap must not pass what the index holds. The two blocks run
        // on past the reads from the ends; where they stop inside a sampled
        // part is guessed on the low side (about 140 short).
        {"ends of a thinned listing", 10000,
         [](int i) -> std::string { return i <= 1200 || i > 8800 ? "holmes" : "other"; }, 1201, 8800, "holmes", 2250,
         2400},
        // A prefix of 64 words is read from the start only, its end taken
        // from the highest listing number: deleted documents must not swell
        // the estimate past the 1,101 left.
        {"slow prefix, thinned", 10000,
         [](int i) -> std::string {
             if (i <= 600) return std::string("holme") + char('a' + i % 8) + char('a' + i / 8 % 8);
             return i <= 1100 ? "holma" : "other";
         },
         1101, 9999, "holme", 1100, 1101},
    };
    for (const Layout &l : layouts) {
        exec("DELETE FROM d; DELETE FROM v; INSERT INTO f(f) VALUES('delete-all'); BEGIN");
        for (int i = 1; i <= l.documents; ++i) add({l.word(i)});
        for (int i = l.deleted_from; i <= l.deleted_to; ++i) {
            const std::string seq = std::to_string(i);
            exec(("DELETE FROM d WHERE seq = " + seq + "; INSERT INTO f(f, rowid, a0, a1, a2, a3) VALUES('delete', " +
                  seq + ", 'other', '', '', '')")
                     .c_str());
        }
        exec("COMMIT");
        std::int64_t total = 0;
        search(l.query, 1, &total);
        EXPECT_GE(total, l.least) << l.name;
        EXPECT_LE(total, l.most) << l.name;
    }
}

}  // namespace
}  // namespace korrin
