// Edit distance in characters, typo budgets, and the vocabulary walk that
// finds a word's variants (checked against comparing with every term).
#include "kr_search.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <random>
#include <set>

namespace korrin {
namespace {

TEST(EditDistance, CountsCharactersAndNeighbourSwaps)
{
    struct Case {
        const char *a, *b;
        int max, want;
    } cases[] = {
        {"hobbit", "hobbit", 2, 0},
        {"hobbit", "hobit", 2, 1},           // deletion
        {"hobbit", "hobbitt", 2, 1},         // insertion
        {"hobbit", "hobbot", 2, 1},          // substitution
        {"sherlock", "shelrock", 2, 1},      // neighbours swapped
        {"sherlock", "hsrelock", 2, 2},      // two swaps
        {"café", "cafe", 2, 1},              // one character, two bytes
        {"zürich", "zurich", 1, 1},
        {"東京", "京東", 2, 1},
        {"abc", "xyz", 1, 2},                // beyond max: max + 1
        {"interstellar", "intrestelar", 2, 2},
        {"a", "abcdef", 2, 3},               // length gap alone exceeds max
        {"", "ab", 2, 2},
        {"ca", "abc", 3, 3},                 // swap then insert is not one edit here
    };
    for (const Case &c : cases)
        EXPECT_EQ(edit_distance(to_u32(c.a), to_u32(c.b), c.max), c.want) << c.a << " / " << c.b;
}

TEST(EditDistance, BudgetGrowsWithCharacters)
{
    struct Case {
        const char *word;
        int want;
    } cases[] = {{"dune", 0}, {"stone", 1}, {"sherlock", 1}, {"philosoph", 2}, {"ÉÉÉÉ", 0},
                 {"éééééééé", 1}, {"東京大学", 0}, {"interstellar", 2}, {"\xC3", 0}, {"ab\xE6\x9D", 0}};
    for (const Case &c : cases) {
        EXPECT_EQ(typo_budget(utf8_length(c.word)), c.want) << c.word;
        EXPECT_EQ(utf8_length(c.word), to_u32(c.word).size()) << c.word;
    }
}

class Vocabulary : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db_, "CREATE TABLE v(term TEXT PRIMARY KEY) WITHOUT ROWID", nullptr, nullptr, nullptr),
                  SQLITE_OK);
    }
    void TearDown() override { sqlite3_close(db_); }

    void add(const std::string &term)
    {
        terms_.insert(term);
        sqlite3_stmt *s = nullptr;
        sqlite3_prepare_v2(db_, "INSERT OR IGNORE INTO v VALUES(?1)", -1, &s, nullptr);
        sqlite3_bind_text(s, 1, term.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(s);
        sqlite3_finalize(s);
    }

    // What the walk must find, by comparing the word with every term.
    void brute_force(const std::string &word, int budget, std::set<std::pair<std::string, int>> &terms,
                     std::set<std::pair<std::string, int>> &prefixes)
    {
        std::u32string w = to_u32(word);
        for (const std::string &t : terms_) {
            std::u32string u = to_u32(t);
            int d = edit_distance(w, u, budget);
            if (d >= 1 && d <= budget) terms.insert({t, d});
            int best = budget + 1;
            for (std::size_t j = 1; j <= u.size(); ++j)
                best = std::min(best, edit_distance(w, u.substr(0, j), budget));
            if (best >= 1 && best <= budget) prefixes.insert({t, best});
        }
    }

    void compare_with_every_term(const std::u32string &alphabet);

    sqlite3 *db_ = nullptr;
    std::set<std::string> terms_;
};

TEST_F(Vocabulary, FindsWholeTermsWithinBudget)
{
    for (const char *t : {"holmes", "homes", "holes", "helmets", "hole", "holmesian", "sherlock", "shelrock",
                          "hobbit", "hobbits", "zürich", "zurich", "interstellar", "interstate"})
        add(t);
    struct Case {
        const char *word;
        int budget;
        std::vector<std::pair<std::string, int>> want;
    } cases[] = {
        {"holmes", 1, {{"holes", 1}, {"homes", 1}}},
        {"hobbitt", 1, {{"hobbit", 1}, {"hobbits", 1}}},
        {"zurich", 1, {{"zürich", 1}}},
        {"intrestelar", 2, {{"interstellar", 2}}},
        {"qqqqqq", 1, {}},
    };
    for (const Case &c : cases) {
        TypoVariants v;
        ASSERT_TRUE(find_typo_variants(db_, "v", c.word, c.budget, false, v).is_ok());
        std::vector<std::pair<std::string, int>> got;
        for (const TypoVariant &t : v.terms) got.push_back({t.text, t.distance});
        EXPECT_EQ(got, c.want) << c.word;
        EXPECT_TRUE(v.prefixes.empty()) << c.word;
    }
}

TEST_F(Vocabulary, FindsPrefixesOfLongerTerms)
{
    for (const char *t : {"yellowstone", "yellow", "mellow", "yelling", "pillow", "yelp"}) add(t);
    struct Case {
        const char *word;
        std::vector<std::pair<std::string, int>> want;
    } cases[] = {
        {"yelow", {{"yellow", 1}}},        // covers yellowstone too
        {"yellowstome", {{"yellowstone", 1}}},
        {"yelloq", {{"yello", 1}}},        // the shortest beginning as close as any
        {"pilow", {{"pillow", 1}}},
        {"zzzzz", {}},
    };
    for (const Case &c : cases) {
        TypoVariants v;
        ASSERT_TRUE(find_typo_variants(db_, "v", c.word, typo_budget(to_u32(c.word).size()), true, v).is_ok());
        std::vector<std::pair<std::string, int>> got;
        for (const TypoVariant &t : v.prefixes) got.push_back({t.text, t.distance});
        EXPECT_EQ(got, c.want) << c.word;
    }
}

TEST_F(Vocabulary, AgreesWithComparingEveryTerm)
{
    // A small alphabet makes dense neighbourhoods; a large one makes the
    // walk skip most children of a node (and land on missing ones).
    for (const char32_t *alphabet : {U"abcdeéö", U"abcdefghijklmnopqrstuvwxyzéöß"})
        compare_with_every_term(alphabet);
}

void Vocabulary::compare_with_every_term(const std::u32string &alphabet)
{
    terms_.clear();
    ASSERT_EQ(sqlite3_exec(db_, "DELETE FROM v", nullptr, nullptr, nullptr), SQLITE_OK);
    std::mt19937 rng(7);
    auto random_word = [&](std::size_t lo, std::size_t hi) {
        std::u32string w;
        std::size_t n = lo + rng() % (hi - lo + 1);
        for (std::size_t i = 0; i < n; ++i) w += alphabet[rng() % alphabet.size()];
        std::string out;
        for (char32_t c : w) append_utf8(out, c);
        return out;
    };
    for (int i = 0; i < 1500; ++i) add(random_word(1, 11));
    for (int round = 0; round < 40; ++round) {
        // Half the words are typed from a term of the vocabulary, so there
        // are variants to find; the rest are random.
        std::string word = random_word(5, 10);
        if (round % 2) {
            auto it = terms_.lower_bound(word);
            if (it == terms_.end()) it = terms_.begin();
            std::u32string near = to_u32(*it);
            if (near.size() >= 5) {
                near[rng() % near.size()] = alphabet[rng() % alphabet.size()];
                word.clear();
                for (char32_t c : near) append_utf8(word, c);
            }
        }
        int budget = typo_budget(to_u32(word).size());
        std::set<std::pair<std::string, int>> terms, prefixes;
        brute_force(word, budget, terms, prefixes);
        TypoVariants v;
        ASSERT_TRUE(find_typo_variants(db_, "v", word, budget, true, v).is_ok());
        std::set<std::pair<std::string, int>> got;
        for (const TypoVariant &t : v.terms) got.insert({t.text, t.distance});
        EXPECT_EQ(got, terms) << word;
        for (const auto &[term, d] : prefixes) {
            if (term.starts_with(word)) continue;  // an exact prefix: no typo
            int covered = budget + 1;
            for (const TypoVariant &p : v.prefixes)
                if (term.starts_with(p.text)) covered = std::min(covered, p.distance);
            EXPECT_EQ(covered, d) << word << " -> " << term;
        }
    }
}

}  // namespace
}  // namespace korrin
