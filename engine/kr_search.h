/*
 * Ranked, typo-tolerant search: the pieces behind the engine's query path,
 * and what the write path must agree with them on.
 *
 *   words.cpp    what a word is: scripts written without spaces, splitting
 *                text into the full-text columns, the tokenizer, parsing a
 *                user's query into units (words, phrases, runs of ideographs)
 *   prepare.cpp  reading a batch's documents into columns and words, on a
 *                second thread for a big batch
 *   typo.cpp     edit distance counted in characters, and finding the typo
 *                variants of a word in an index's vocabulary table
 *   ranking.cpp  the ranking cascade: buckets of matches, best first, each
 *                walked in rowid order and stopped once enough hits are placed
 *
 * Workload: one search per process. Every step costs in proportion to the
 * hits asked for (offset + limit) and to the query's words, never to the
 * number of matches or documents: no step scores every match.
 */
#ifndef KORRIN_SEARCH_H
#define KORRIN_SEARCH_H

#include "kr_internal.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct Fts5Tokenizer;
struct fts5_tokenizer;

namespace korrin {

// ---------------------------------------------------------------------------
// words.cpp
// ---------------------------------------------------------------------------

// Full-text columns of an index: the first string-holding top-level
// attributes of a document each get their own column, in the order the
// document gives them; the rest share the last. The column a word is found
// in is what ranks a title match above a description match.
inline constexpr int kTextColumns = 4;

// The names of those columns for a CREATE or INSERT: "a0, a1, a2, a3".
std::string fulltext_columns();

// Chinese, Japanese, Thai, Lao, Khmer and Myanmar are written without spaces
// between words: such characters are indexed one per token so any substring
// can be found as a phrase.
bool is_unspaced_char(char32_t c);

// Appends text to out with a space around every unspaced character, so the
// word tokenizer sees each one as its own token, and Greek and Cyrillic
// accents folded (see fold_accents), and with `fold` letters too (see
// fold_letters).
void append_segmented(std::string &out, std::string_view text, bool fold);
void append_segmented_raw(std::string &out, std::string_view text);
// Folds accented Greek and Cyrillic letters of text[from..] to their bases,
// in place (the length never changes).
void fold_accents(std::string &text, std::size_t from = 0);
// Folds what the tokenizer leaves of text that people type in
// other letters: ł as l, ß as ss, æ as ae, ﬁ as fi, full-width A as A,
// half-width ｶ as カ; and joins what people type as one letter: か and a
// voicing mark as が, Hangul written letter by letter as its syllables.
void fold_letters(std::string &text);

// The word that stands between two string values sharing a column: the
// elements of an array, the values of a nested object, the attributes past
// the last column's own. Without it the end of one value and the start of
// the next are neighbours, so ["new", "york"] matches the phrase
// "new york" and ranks as close as a title saying it. With it, a phrase
// never spans two values, and for closeness two values rank like words
// with one other between them (nine breaks, enough to set two values apart
// for a two-word query, cost adding 4-8%). U+10FFFD, a private-use
// character: the tokenizer keeps it as a word of its own, and queries
// never hold it.
//
// The current form of an index's texts has these breaks and its letters
// folded (fold_letters). Indexes made before keep the original form, with
// neither: the contentless full-text table must be given a document's words
// exactly as they went in to take them out again (other words make its
// counts run below zero, which it reports as a corrupt store). An index
// whose vocabulary holds the empty word, written there when the index is
// made, has the current form: no word of a document is ever empty. (The
// break itself could not mark it: before, a document holding U+10FFFD alone
// put it into the vocabulary.)
inline constexpr std::string_view kValueBreak = "\xF4\x8F\xBF\xBD";

// The text of each full-text column of a document (kTextColumns of them):
// string values, nested ones included, in document order, segmented, in the
// current form or the original one. The contentless full-text table needs
// exactly this text again to delete a document, so this is the one place
// that decides it.
void column_texts(yyjson_val *doc, std::string (&out)[kTextColumns], bool current_form);

// The distinct words of a batch. Every token of every document passes
// through add(), so it is an open-addressing table over one byte arena,
// not a node per word.
class TermSet {
public:
    void add(std::string_view term);
    std::size_t size() const { return spans_.size(); }
    // The words, in no particular order; valid until the next add().
    std::vector<std::string_view> terms() const;

private:
    struct Span {
        std::uint32_t offset, length;
    };
    void grow();
    std::string arena_;
    std::vector<Span> spans_;
    // 0 = empty, else the word's hash in the high half and its index in
    // spans_ + 1 in the low half: a probe compares hashes without touching
    // the word, so most probes cost one cache line.
    std::vector<std::uint64_t> slots_;
};

// The index's word tokenizer (unicode61, diacritics removed), used directly
// for queries and for the vocabulary, so both agree with the full-text table.
class Tokenizer {
public:
    Tokenizer() = default;
    ~Tokenizer();
    Tokenizer(const Tokenizer &) = delete;
    Tokenizer &operator=(const Tokenizer &) = delete;

    Status open(sqlite3 *db);
    struct Token {
        std::string text;  // folded: lower case, no diacritics
        int start = 0;     // byte range in the input
        int end = 0;
    };
    Status tokenize(std::string_view text, std::vector<Token> &out, bool for_query) const;
    // Adds every distinct token of text to terms (the vocabulary of a batch).
    Status collect(std::string_view text, TermSet &terms) const;

private:
    template <class Sink>
    Status split(std::string_view text, int flags, Sink &sink) const;

    std::unique_ptr<fts5_tokenizer> api_;
    Fts5Tokenizer *tok_ = nullptr;
};

// One unit of a query: a word, a phrase in double quotes, or a run of
// unspaced characters (matched as a phrase of one-character tokens).
struct QueryUnit {
    std::vector<std::string> tokens;  // folded
    bool phrase = false;              // adjacent, in order, no typos
    bool prefix = false;              // the last token may match as a prefix
};

// Splits a user's query into units. The last unit may match as a prefix,
// unless it is a closed phrase or a run of unspaced characters.
// `fold`: the index has its texts in the current form (see kValueBreak).
Status parse_query(const Tokenizer &tok, std::string_view query, bool fold, std::vector<QueryUnit> &units);

// ---------------------------------------------------------------------------
// prepare.cpp
// ---------------------------------------------------------------------------

// A document of a batch, ready for the store.
struct PreparedDocument {
    std::string id;                   // checked
    std::string body;                 // compact JSON
    std::string text[kTextColumns];   // see column_texts
};

// Reads a batch's documents in order and prepares each for the store,
// gathering on the way the batch's words (for the vocabulary) and how many
// of its documents have each top-level attribute. After start(), a big
// batch is read on a second thread, ahead of the caller.
class BatchReader {
public:
    // The batch and the tokenizer belong to the reader until next() has
    // returned null or the reader is gone.
    BatchReader(Batch &batch, std::string_view primary_key, const Tokenizer &tokenizer, bool current_form);
    ~BatchReader();
    BatchReader(const BatchReader &) = delete;
    BatchReader &operator=(const BatchReader &) = delete;

    void start();
    // The next document, valid until the next call; null after the last
    // one, or at the first that cannot be read, which status() then names.
    const PreparedDocument *next();

    // Once next() has returned null:
    const Status &status() const { return status_; }
    const TermSet &terms() const { return terms_; }
    const std::unordered_map<std::string, std::int64_t> &fields() const { return fields_; }

private:
    struct Chunk;
    bool prepare(std::size_t i, PreparedDocument &out);
    void run();
    void stop();

    Batch &batch_;
    std::string primary_key_;
    const Tokenizer &tokenizer_;
    bool current_form_;
    Status status_ = Status::ok();
    TermSet terms_;
    std::unordered_map<std::string, std::int64_t> fields_;

    // Read in line.
    PreparedDocument single_;
    std::size_t next_ = 0;
    bool done_ = false;

    // Read on a thread: chunks go from free_ to the reader, to ready_, to
    // the writer (current_), back to free_.
    std::vector<std::unique_ptr<Chunk>> chunks_;
    Chunk *current_ = nullptr;
    std::size_t position_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Chunk *> free_, ready_;
    bool stopping_ = false;  // the writer gave up
    bool broken_ = false;    // the reader ran out of memory
};

// ---------------------------------------------------------------------------
// typo.cpp
// ---------------------------------------------------------------------------

// Edits a word may have: none below 5 characters, 1 from 5 to 8, 2 from 9.
int typo_budget(std::size_t chars);

// Edit distance (insertions, deletions, substitutions, transpositions of two
// neighbours) between a and b, or max + 1 once it is known to exceed max.
int edit_distance(std::u32string_view a, std::u32string_view b, int max);

struct TypoVariant {
    std::string text;  // a whole term, or a prefix of terms
    int distance = 0;  // 1..budget
};

struct TypoVariants {
    std::vector<TypoVariant> terms;     // whole terms within the budget
    std::vector<TypoVariant> prefixes;  // prefixes of terms within the budget
};

// Reads the terms of a vocabulary table (one TEXT column `term`, its primary
// key) in order from a seek key on. One serves every prefix and typo lookup
// of a search, prepared on first use.
class VocabularyCursor {
public:
    Status open(sqlite3 *db, const std::string &vocabulary_table);
    void seek(std::string_view from);
    // The next term; found is false at the end.
    Status next(std::string &term, bool &found);

private:
    std::string from_;  // bound while the cursor reads from it
    Statement stmt_;
};

// Finds the terms of the vocabulary table within `budget` edits of word, and, when with_prefixes, the
// prefixes of terms within budget edits (a prefix of a longer one is left
// out when it is no closer). Walks the terms in order and skips every range
// of terms whose common beginning is already too far from the word, so it
// reads a small part of the vocabulary. Distance 0 is never reported.
Status find_typo_variants(sqlite3 *db, const std::string &vocabulary_table, std::string_view word,
                          int budget, bool with_prefixes, TypoVariants &out);
// The same through an open cursor, which a search shares among its words.
Status find_typo_variants(VocabularyCursor &terms, std::string_view word, int budget, bool with_prefixes,
                          TypoVariants &out);

// ---------------------------------------------------------------------------
// ranking.cpp
// ---------------------------------------------------------------------------

struct SearchTables {
    std::string fulltext;    // quoted name of the FTS5 table (rowid = seq)
    std::string vocabulary;  // quoted name of the vocabulary table
    std::string documents;   // quoted name of the documents table (seq)
    std::int64_t document_count = 0;  // documents in the index: no count passes it
};

struct RankedHits {
    std::vector<std::int64_t> rowids;  // the best `need` matches, best first
    std::int64_t total = 0;            // exact up to 1000, an estimate beyond
};

// The hits of a parsed query, best first, up to `need` of them. Every unit
// must match; when no document has them all, units are dropped from the end
// until some document matches. Ranking, in order: more of the query's units
// matched (when some were dropped, documents with later ones), fewer typos,
// closer together, earlier column, whole word before prefix; ties in listing
// order.
Status rank(sqlite3 *db, const SearchTables &tables, const std::vector<QueryUnit> &units,
            std::int64_t need, RankedHits &out);

}  // namespace korrin

#endif
