/*
 * Typo tolerance: edit distance in characters (a transposition of two
 * neighbours is one edit), and the search for a word's variants in an
 * index's vocabulary.
 *
 * The vocabulary is a table of the distinct terms of an index, in term
 * order. Finding variants walks it like a trie: the distance rows of the
 * characters a term shares with the one before are kept, and as soon as a
 * term's beginning is more than the budget away from the word, every term
 * with that beginning is skipped with one seek, straight to the next sibling
 * that can still be within the budget (one beginning with a character of the
 * word), so the dead siblings in between are never read. Each seek costs a
 * B-tree descent, several times a row read: a budget of one reads a few
 * hundred terms of a vocabulary of a hundred thousand, a budget of two a few
 * thousand.
 */
#include "kr_search.h"

#include <sqlite3.h>

#include <algorithm>

namespace korrin {

int typo_budget(std::size_t chars)
{
    if (chars >= 9) return 2;
    if (chars >= 5) return 1;
    return 0;
}

namespace {

// Distance rows, one per character of a term: row[i] is the distance
// between the word's first i characters and the term's first j characters.
// The vocabulary walk pushes and pops rows for every term it reads, so the
// storage only grows.
class Rows {
public:
    explicit Rows(std::u32string_view word) : word_(word), width_(word.size() + 1)
    {
        cells_.resize(4 * width_);
        for (std::size_t i = 0; i < width_; ++i) cells_[i] = static_cast<int>(i);
    }

    // Keeps rows 0..depth; the term now has `depth` characters.
    void truncate(std::size_t depth) { term_.resize(depth); }

    // Appends the row for one more term character; returns its minimum.
    int push(char32_t c)
    {
        std::size_t j = term_.size() + 1;
        term_ += c;
        if (cells_.size() < (j + 1) * width_) cells_.resize(2 * (j + 1) * width_);
        int *row = &cells_[j * width_];
        const int *up = row - width_;
        // Two rows up, for a swap of neighbours; only read when j >= 2.
        const int *up2 = j >= 2 ? row - 2 * width_ : nullptr;
        const char32_t *w = word_.data();
        int best = row[0] = static_cast<int>(j);
        int left = row[0];
        for (std::size_t i = 1; i < width_; ++i) {
            int v = up[i - 1] + (w[i - 1] == c ? 0 : 1);
            if (up[i] + 1 < v) v = up[i] + 1;
            if (left + 1 < v) v = left + 1;
            if (up2 != nullptr && i >= 2 && w[i - 1] == term_[j - 2] && w[i - 2] == c && up2[i - 2] + 1 < v)
                v = up2[i - 2] + 1;
            row[i] = left = v;
            if (v < best) best = v;
        }
        return best;
    }

    // Distance between the whole word and the term's first `depth` chars.
    int at(std::size_t depth) const { return cells_[depth * width_ + width_ - 1]; }
    std::size_t depth() const { return term_.size(); }

private:
    std::u32string_view word_;
    std::size_t width_;
    std::vector<int> cells_;
    std::u32string term_;
};

}  // namespace

int edit_distance(std::u32string_view a, std::u32string_view b, int max)
{
    std::size_t gap = a.size() > b.size() ? a.size() - b.size() : b.size() - a.size();
    if (gap > static_cast<std::size_t>(max)) return max + 1;
    Rows rows(a);
    for (char32_t c : b)
        if (rows.push(c) > max) return max + 1;
    return std::min(rows.at(b.size()), max + 1);
}

Status VocabularyCursor::open(sqlite3 *db, const std::string &vocabulary_table)
{
    if (stmt_.prepared()) return Status::ok();
    stmt_ = Statement(db, "SELECT term FROM " + vocabulary_table + " WHERE term >= ?1 ORDER BY term",
                      "reading the vocabulary");
    return stmt_.status();
}

void VocabularyCursor::seek(std::string_view from)
{
    stmt_.reset();  // lets go of from_ before it changes
    from_.assign(from);
    stmt_.bind(1, std::string_view(from_));
}

Status VocabularyCursor::next(std::string &term, bool &found)
{
    found = stmt_.step();
    if (found) term.assign(stmt_.column_text(0));
    return stmt_.status();
}

Status find_typo_variants(sqlite3 *db, const std::string &vocabulary_table, std::string_view word, int budget,
                          bool with_prefixes, TypoVariants &out)
{
    VocabularyCursor terms;
    if (Status st = terms.open(db, vocabulary_table); !st.is_ok()) return st;
    return find_typo_variants(terms, word, budget, with_prefixes, out);
}

Status find_typo_variants(VocabularyCursor &terms, std::string_view word, int budget, bool with_prefixes,
                          TypoVariants &out)
{
    out.terms.clear();
    out.prefixes.clear();
    if (budget <= 0) return Status::ok();
    std::u32string w = to_u32(word);
    std::size_t shortest = w.size() > static_cast<std::size_t>(budget) ? w.size() - budget : 1;
    std::size_t deepest = w.size() + static_cast<std::size_t>(budget);

    // The word's characters in order, once each: after a dead child, the
    // only children of its parent worth a seek begin with one of these.
    std::u32string letters = w;
    std::sort(letters.begin(), letters.end());
    letters.erase(std::unique(letters.begin(), letters.end()), letters.end());

    Rows rows(w);
    std::u32string current, term;     // the term the rows describe; the one just read
    std::vector<std::size_t> offset;  // byte offset of each character in `bytes`
    std::string bytes, seek_key;
    terms.seek({});
    for (;;) {
        bool found = false;
        if (Status st = terms.next(bytes, found); !st.is_ok()) return st;
        if (!found) break;
        term.clear();
        offset.clear();
        for (std::size_t i = 0; i < bytes.size();) {
            offset.push_back(i);
            term += decode_char(bytes, i);
        }
        offset.push_back(bytes.size());

        std::size_t common = 0;
        while (common < current.size() && common < term.size() && current[common] == term[common]) ++common;
        rows.truncate(std::min(common, rows.depth()));
        current.swap(term);
        const std::u32string &t = current;

        // Extend the rows; stop at the first character too far from the word.
        std::size_t limit = std::min(t.size(), deepest);
        std::size_t dead = 0;
        while (rows.depth() < limit) {
            if (rows.push(t[rows.depth()]) > budget) {
                dead = rows.depth();
                break;
            }
        }
        std::size_t reached = dead ? dead - 1 : rows.depth();
        if (dead == 0 && t.size() >= shortest && t.size() <= deepest) {
            int d = rows.at(t.size());
            if (d > 0 && d <= budget) out.terms.push_back({bytes, d});
        }
        if (with_prefixes) {
            // The closest beginning of this term, shortest first.
            int best = budget + 1;
            std::size_t best_depth = 0;
            for (std::size_t j = shortest; j <= reached; ++j)
                if (rows.at(j) < best) {
                    best = rows.at(j);
                    best_depth = j;
                }
            if (best > 0 && best <= budget) {
                std::string prefix = bytes.substr(0, offset[best_depth]);
                bool covered = false;
                for (const TypoVariant &v : out.prefixes)
                    covered = covered || (v.distance <= best && prefix.starts_with(v.text));
                if (!covered) out.prefixes.push_back({std::move(prefix), best});
            }
        }
        if (dead == 0) {
            if (t.size() <= deepest) continue;  // longer terms may follow
            // Every term below this beginning is alike: skip them all. No
            // UTF-8 text holds the byte 0xFF, so it sorts after all of them.
            seek_key.assign(bytes, 0, offset[deepest]);
            seek_key += '\xFF';
        } else {
            // The term's first `dead` characters are too far from the word.
            // A sibling can only stay within the budget by matching one of
            // the word's characters here (a parent that tolerates any
            // character has no dead child), so seek straight to the next
            // sibling that does, or past the parent when none is left. This
            // skips the dead siblings without reading a term of each.
            std::size_t parent = dead - 1;
            rows.truncate(parent);
            char32_t next = 0;
            for (char32_t c : letters) {
                if (c <= t[parent]) continue;
                bool alive = rows.push(c) <= budget;
                rows.truncate(parent);
                if (alive) {
                    next = c;
                    break;
                }
            }
            seek_key.assign(bytes, 0, offset[parent]);
            if (next != 0)
                append_utf8(seek_key, next);
            else if (parent == 0)
                break;  // no beginning at all is left within the budget
            else
                seek_key += '\xFF';
        }
        terms.seek(seek_key);
    }
    auto order = [](const TypoVariant &a, const TypoVariant &b) {
        return a.distance != b.distance ? a.distance < b.distance : a.text < b.text;
    };
    std::sort(out.terms.begin(), out.terms.end(), order);
    std::sort(out.prefixes.begin(), out.prefixes.end(), order);
    return Status::ok();
}

}  // namespace korrin
