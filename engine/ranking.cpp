/*
 * The ranking cascade.
 *
 * Units matched: every unit of the query must match; when no document has
 * them all, units are dropped from the end, one at a time, until some
 * document matches. Among those documents, a document's rank is the first
 * bucket, in this order, whose full-text query matches it:
 *   1. units matched: when units were dropped, documents that also have
 *      some of the later ones, most first (each such level ranked by the
 *      criteria below, on an index of up to kRankLaterUpTo documents);
 *   2. typos in total: 0, 1, 2, ...;
 *   3. proximity: in order and adjacent, close (NEAR), nearby, anywhere;
 *   4. column: all matched words within the first column, the first two, ...;
 *   5. the last word whole before the last word as a prefix.
 * Each bucket is one FTS5 query, walked in rowid order (listing order,
 * which breaks every tie), skipping documents an earlier bucket placed.
 * The walk stops once `need` hits are placed. Before descending into the
 * buckets below a criterion, one probe asks whether any unplaced document
 * is left there at all, so empty branches cost one short query each.
 *
 * Cost: each bucket reads its matches in rowid order up to the first
 * `need` unplaced ones; nothing is scored, nothing sorted. A bucket that
 * holds only a few of a long list's matches is read to its end, which is
 * what the probes keep rare.
 */
#include "kr_search.h"

#include <sqlite3.h>

#include <algorithm>
#include <bit>
#include <limits>
#include <numeric>

namespace korrin {

namespace {

constexpr std::int64_t kExactTotal = 1000;
// Beyond kExactTotal, the matches between the two ends of the listing are
// sampled in this many parts, each read up to kSampleHits matches.
constexpr int kGapSamples = 8;
constexpr std::int64_t kSampleHits = 125;
// Each sample opens every term of its expression again, about 0.2-0.3 ms a
// term on a million documents: the count with typos is sampled only while
// its terms are this few (a rare word of 81 terms went from 6 to 22 ms).
constexpr std::size_t kSampledTerms = 12;
// Typo variants kept per word, whole and as prefixes. Every word within the
// typo budget should match, and each costs about one cursor per segment: a
// five-letter word of a 64,000-word vocabulary has up to 44 neighbours one
// edit away, and taking all of them, prefixes too, cost no measurable time
// on a million documents ("cares" then finds 46,328 documents, not 44,677).
// A prefix variant that stands for more than kMaxExpansion words costs a
// full merge of their lists, but those are the few shorter by a letter.
// The cap only guards against vocabularies of near-identical codes.
constexpr std::size_t kMaxVariants = 128;
constexpr std::size_t kMaxCombinations = 64;  // alternatives combined for proximity
constexpr std::size_t kMaxMergedUses = 4;     // of a merged prefix in one proximity query
// Typo buckets: the first kTypoLevels each rank apart, then more up to
// kMaxTypoLevels while each stays within kLevelTerms terms and every way
// of spreading its typos over the words is written out; the rest share
// the last bucket. Every bucket costs a probe and a walk of its expression,
// which grows with those ways: five misspelt long words made levels of
// 300-380 terms and took three times as long with them (30 ms against 88
// on a million documents), where three took a fifth longer.
constexpr int kTypoLevels = 4;
constexpr int kMaxTypoLevels = 8;
constexpr std::size_t kLevelTerms = 64;
constexpr std::size_t kMaxExpansion = 48;     // words a prefix is spelled out as
constexpr std::size_t kIndexedPrefix = 2;     // prefixes the full-text index keeps
constexpr std::size_t kLaterUnits = 3;        // dropped units that rank what is left
// Indexes up to this size rank the documents that have later units by the
// whole cascade; their lists are short enough to read to the end.
constexpr std::int64_t kRankLaterUpTo = 100000;

// One way a unit can match, in one or more forms: FTS5 phrases such as
// "new" + "york", "yor"*, or the vocabulary's words that begin with "yor".
struct Alternative {
    std::vector<std::string> forms;
    int typos = 0;
    // For a prefix longer than the indexed ones, spelled out as several
    // words: the prefix as one FTS5 form ("hous"*), merged like `merged`,
    // for when the words are too many to combine. A shorter prefix is
    // spelled out as indexed prefixes, which no single form could replace
    // without merging most of the vocabulary's lists.
    std::string collapsed = {};
    // A prefix FTS5 merges its words' lists of in full, once for every
    // time the form appears in a query (see Unit::slow_prefix).
    bool merged = false;
};

struct Unit {
    std::vector<Alternative> whole;   // whole words (or phrase)
    std::vector<Alternative> prefix;  // as a prefix: only the last typed unit
    // The prefix alternatives without the forms a whole alternative with no
    // more typos already has: what a prefix match adds to the whole ones.
    std::vector<Alternative> prefix_only;
    bool has_prefix = false;
    // A prefix FTS5 must merge every word's list of in full before its first
    // row (no prefix index of its length): each query over it costs that.
    bool slow_prefix = false;
};

bool contains(const std::vector<std::string> &forms, const std::string &f)
{
    return std::find(forms.begin(), forms.end(), f) != forms.end();
}

void split_prefix_only(Unit &u)
{
    u.prefix_only.clear();
    for (const Alternative &a : u.prefix) {
        Alternative rest{{}, a.typos, a.collapsed, a.merged};
        for (const std::string &f : a.forms) {
            bool whole = false;
            for (const Alternative &w : u.whole) whole = whole || (w.typos <= a.typos && contains(w.forms, f));
            if (!whole) rest.forms.push_back(f);
        }
        if (!rest.forms.empty()) u.prefix_only.push_back(std::move(rest));
    }
}

std::string quoted(std::string_view term)
{
    std::string out = "\"";
    for (char c : term) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

// The terms of an expression built here (its quoted strings): FTS5 opens
// a cursor for each, once per mention.
std::size_t terms_in(std::string_view expr)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < expr.size(); ++i) {
        if (expr[i] != '"') continue;
        ++n;
        for (++i; i < expr.size(); ++i) {
            if (expr[i] != '"') continue;
            if (i + 1 < expr.size() && expr[i + 1] == '"') {
                ++i;  // a quote within the term
                continue;
            }
            break;
        }
    }
    return n;
}

std::string phrase_expr(const std::vector<std::string> &tokens)
{
    std::string out;
    for (const std::string &t : tokens) {
        if (!out.empty()) out += " + ";
        out += quoted(t);
    }
    return out;
}

// Which alternatives of the last unit a bucket allows: whole words only,
// whole words or prefixes, or what prefixes add to whole words.
enum class Match { whole, any, prefix_only };

struct Bucket {
    std::size_t units = 0;  // the first `units` units must match
    int typos = 0;          // at most this many in total
    Match last = Match::any;
};

class Planner {
public:
    explicit Planner(std::vector<Unit> units) : units_(std::move(units)) {}

    const std::vector<Unit> &units() const { return units_; }

    const std::vector<const Alternative *> &choices(const Bucket &b, std::size_t i) const
    {
        scratch_.clear();
        const Unit &u = units_[i];
        bool last = i + 1 == b.units && b.units == units_.size();
        if (last && b.last == Match::prefix_only) {
            for (const Alternative &a : u.prefix_only) scratch_.push_back(&a);
            return scratch_;
        }
        for (const Alternative &a : u.whole) scratch_.push_back(&a);
        if (last && b.last == Match::any)
            for (const Alternative &a : u.prefix) scratch_.push_back(&a);
        return scratch_;
    }

    int max_typos(const Bucket &b) const
    {
        int total = 0;
        for (std::size_t i = 0; i < b.units; ++i) {
            int m = 0;
            for (const Alternative *a : choices(b, i)) m = std::max(m, a->typos);
            total += m;
        }
        return total;
    }

    // Every unit matched, at most b.typos typos in all, anywhere. `coarse`,
    // when given, tells whether some documents with more typos are let in.
    std::string anywhere(const Bucket &b, bool *coarse = nullptr) const
    {
        std::vector<int> limits(b.units, 0), caps(b.units, 0);
        for (std::size_t i = 0; i < b.units; ++i)
            for (const Alternative *a : choices(b, i)) caps[i] = std::max(caps[i], a->typos);
        int goal = std::min(b.typos, std::accumulate(caps.begin(), caps.end(), 0));
        std::string out;
        // The typos spread over the units every way that adds up to `goal`;
        // each unit then allows its alternatives up to its share. A long
        // query has too many ways: then each unit allows up to `goal`, which
        // lets in documents with more typos in all (a coarser bucket).
        std::size_t ways = 0;
        const bool fine = spread(b, caps, limits, 0, goal, out, ways);
        if (coarse) *coarse = !fine;
        if (!fine) {
            for (std::size_t i = 0; i < b.units; ++i) limits[i] = std::min(caps[i], goal);
            out.clear();
            ways = 0;
            spread(b, limits, limits, b.units, 0, out, ways);
        }
        return out;
    }

    // Unit i matched any way it can be: whole, with typos, or as a prefix
    // when it is the last unit typed.
    std::string any_way(std::size_t i) const
    {
        return group(Bucket{units_.size(), 0, Match::any}, i, std::numeric_limits<int>::max());
    }

    // The same, but the last unit typed as a whole word only.
    std::string whole_way(std::size_t i) const
    {
        return group(Bucket{units_.size(), 0, Match::whole}, i, std::numeric_limits<int>::max());
    }

    // Every unit matched within `gap` tokens of each other (gap < 0: as a
    // phrase, in order), at most b.typos typos. A prefix spelled out as
    // many words, combined with a word of several typo variants, soon
    // makes too many combinations: the prefix then goes in as one FTS5
    // prefix form, whose words FTS5 merges (no more than were spelled out).
    // Empty when there are still too many, or when a merged prefix would
    // appear more than kMaxMergedUses times: each costs a full merge (a
    // word of many typo variants before a three-letter prefix took a
    // second on a million documents).
    std::string near(const Bucket &b, int gap) const
    {
        std::vector<const std::string *> chosen;
        std::vector<std::string> parts;
        std::size_t merged = 0;
        if (!combine(b, 0, b.typos, chosen, gap, false, 0, merged, parts)) {
            parts.clear();
            merged = 0;
            if (!combine(b, 0, b.typos, chosen, gap, true, 0, merged, parts)) return {};
        }
        std::string out;
        for (const std::string &p : parts) {
            if (!out.empty()) out += " OR ";
            out += p;
        }
        return out;
    }

private:
    // Unit u's forms that bucket b allows with at most `limit` typos, as
    // one OR group.
    std::string group(const Bucket &b, std::size_t u, int limit) const
    {
        std::string out;
        forms_.clear();
        for (const Alternative *a : choices(b, u)) {
            if (a->typos > limit) continue;
            for (const std::string &f : a->forms) {
                // A whole word is often also among its prefix's words;
                // FTS5 would read its list once per mention.
                if (contains(forms_, f)) continue;
                forms_.push_back(f);
                out += (out.empty() ? "(" : " OR ") + f;
            }
        }
        return out.empty() ? "(\"\")" : out + ")";  // "" matches nothing
    }

    // False when there are more than kMaxCombinations ways.
    bool spread(const Bucket &b, const std::vector<int> &caps, std::vector<int> &limits, std::size_t i, int left,
                std::string &out, std::size_t &ways) const
    {
        if (i == b.units) {
            if (left != 0) return true;
            if (++ways > kMaxCombinations) return false;
            std::string term;
            for (std::size_t u = 0; u < b.units; ++u) term += (term.empty() ? "" : " AND ") + group(b, u, limits[u]);
            if (!out.empty()) out += " OR ";
            out += "(" + term + ")";
            return true;
        }
        // Only shares the units after this one can still take in full.
        int rest = std::accumulate(caps.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                   caps.begin() + static_cast<std::ptrdiff_t>(b.units), 0);
        for (int t = std::max(0, left - rest); t <= std::min(caps[i], left); ++t) {
            limits[i] = t;
            if (!spread(b, caps, limits, i + 1, left - t, out, ways)) return false;
        }
        return true;
    }

    bool combine(const Bucket &b, std::size_t i, int left, std::vector<const std::string *> &chosen, int gap,
                 bool collapse, int merged_here, std::size_t &merged, std::vector<std::string> &parts) const
    {
        if (i == b.units) {
            if (parts.size() >= kMaxCombinations) return false;
            if (merged_here > 0 && ++merged > kMaxMergedUses) return false;
            std::string e;
            if (gap < 0) {
                for (const std::string *f : chosen) e += (e.empty() ? "" : " + ") + *f;
            } else {
                e = "NEAR(";
                for (std::size_t k = 0; k < chosen.size(); ++k) e += (k ? " " : "") + *chosen[k];
                e += ", " + std::to_string(gap) + ")";
            }
            if (!contains(parts, e)) parts.push_back(std::move(e));
            return true;
        }
        std::vector<const Alternative *> options = choices(b, i);  // copy: choices() reuses its buffer
        for (const Alternative *a : options) {
            if (a->typos > left) continue;
            const bool one = collapse && !a->collapsed.empty();  // merged like a slow prefix
            auto with = [&](const std::string &f) {
                chosen.push_back(&f);
                bool ok = combine(b, i + 1, left - a->typos, chosen, gap, collapse,
                                  merged_here + (a->merged || one ? 1 : 0), merged, parts);
                chosen.pop_back();
                return ok;
            };
            if (one) {
                if (!with(a->collapsed)) return false;
                continue;
            }
            for (const std::string &f : a->forms)
                if (!with(f)) return false;
        }
        return true;
    }

    std::vector<Unit> units_;
    mutable std::vector<const Alternative *> scratch_;
    mutable std::vector<std::string> forms_;
};

// Restricts an expression to the first `columns` full-text columns.
std::string in_columns(int columns, const std::string &expr)
{
    if (columns >= kTextColumns) return expr;
    std::string out = "{";
    for (int c = 0; c < columns; ++c) out += (c ? " a" : "a") + std::to_string(c);
    return out + "} : (" + expr + ")";
}

class Walker {
public:
    Walker(sqlite3 *db, std::int64_t need, RankedHits &out) : db_(db), need_(need), out_(out) {}

    Status prepare(const SearchTables &t)
    {
        matches_ = "SELECT rowid FROM " + t.fulltext + " WHERE " + t.fulltext + " MATCH ?1";
        stmt_ = Statement(db_, matches_ + " ORDER BY rowid", "searching");
        return stmt_.status();
    }

    bool full() const { return static_cast<std::int64_t>(out_.rowids.size()) >= need_; }

    // True when some document not placed yet matches expr.
    Status any_left(const std::string &expr, bool &any) { return walk(expr, false, any); }

    // True when some document matches expr, placed or not, however many
    // hits are needed.
    Status exists(const std::string &expr, bool &any)
    {
        stmt_.bind(1, expr);
        any = stmt_.step();
        stmt_.reset();
        return stmt_.status();
    }

    // Places the unplaced matches of expr, in rowid order, until full.
    Status take(const std::string &expr)
    {
        bool unused = false;
        return walk(expr, true, unused);
    }

    // Counts the matches of expr: exact up to kExactTotal, estimated beyond.
    // Past the first kExactTotal matches, up to kExactTotal more are read
    // from the far end of the listing (when `both_ends`: it costs a second
    // read of expr's lists): if the two reads meet, the count is exact;
    // otherwise the matches between them are sampled (sample_gap) when
    // `sample`, else taken to come as densely as at the two ends. One end
    // alone misjudges a listing whose matches come in blocks, as a batch of
    // alike documents puts them, and so do two ends a block in the middle.
    // Sampling starts expr again for each sample, which an expression of
    // many typo variants makes dear (a rare word's count went from 10 to
    // 46 ms on a million documents). Without the far end, the rest of the
    // listing is taken to hold matches as densely as its start.
    Status count(const std::string &expr, const SearchTables &t, bool both_ends, bool sample, std::int64_t &total)
    {
        total = 0;
        std::int64_t lowest = 0, last = 0;  // the rowids the read from the start began and ended at
        stmt_.bind(1, expr);
        while (total <= kExactTotal && stmt_.step()) {
            last = stmt_.column_int(0);
            if (total++ == 0) lowest = last;
        }
        stmt_.reset();
        if (!stmt_.status().is_ok() || total <= kExactTotal) return stmt_.status();

        if (!both_ends) {
            // The matches may run to the last document.
            Statement range(db_, "SELECT max(seq) FROM " + t.documents, "estimating the number of hits");
            if (!range.step()) return range.status();
            const double rest = static_cast<double>(std::max<std::int64_t>(range.column_int(0) - last, 0));
            const double density = static_cast<double>(total) / static_cast<double>(last - lowest + 1);
            total += static_cast<std::int64_t>(density * rest + 0.5);
            return Status::ok();
        }
        if (!back_.prepared()) back_ = Statement(db_, matches_ + " ORDER BY rowid DESC", "searching");
        if (!back_.prepared()) return back_.status();
        back_.bind(1, expr);
        std::int64_t from_end = 0, first = 0, highest = 0;  // the rowids the read from the end ended and began at
        bool met = false;
        while (from_end < kExactTotal) {
            if (!back_.step() || back_.column_int(0) <= last) {
                met = true;
                break;
            }
            first = back_.column_int(0);
            if (from_end++ == 0) highest = first;
        }
        back_.reset();
        if (!back_.status().is_ok()) return back_.status();
        total += from_end;
        if (met) return Status::ok();
        double between = 0;
        if (sample) {
            const double end_density = static_cast<double>(from_end) / static_cast<double>(highest - first + 1);
            if (Status st = sample_gap(expr, last + 1, first - 1, end_density, between); !st.is_ok()) return st;
        } else {
            const double read = static_cast<double>(last - lowest + 1) + static_cast<double>(highest - first + 1);
            between = static_cast<double>(total) / read * static_cast<double>(first - last - 1);
        }
        total += static_cast<std::int64_t>(between + 0.5);
        return Status::ok();
    }

private:
    // Estimates the matches of expr among rowids lo..hi: each of kGapSamples
    // equal parts is read from its start, up to kSampleHits matches, and
    // counted whole when they run out first. Otherwise the rest of the part
    // is taken to be as dense as the sparser of its start and the next
    // part's start (the far end's, for the last part): a batch of alike
    // documents that happens to begin a part must not stand for all of it,
    // while a block spanning parts is seen at both. The error is then at
    // most about a part at each edge of a block.
    Status sample_gap(const std::string &expr, std::int64_t lo, std::int64_t hi, double end_density,
                      double &estimate)
    {
        estimate = 0;
        if (hi < lo) return Status::ok();
        if (!range_.prepared())
            range_ = Statement(db_, matches_ + " AND rowid BETWEEN ?2 AND ?3 ORDER BY rowid", "searching");
        if (!range_.prepared()) return range_.status();
        struct Part {
            std::int64_t from, to, at, seen;
            double density() const { return static_cast<double>(seen) / static_cast<double>(at - from + 1); }
        };
        Part parts[kGapSamples];
        int count = 0;
        const double span = static_cast<double>(hi - lo + 1);
        for (int i = 0; i < kGapSamples; ++i) {
            Part p{lo + static_cast<std::int64_t>(span * i / kGapSamples),
                   lo + static_cast<std::int64_t>(span * (i + 1) / kGapSamples) - 1, 0, 0};
            if (p.to < p.from) continue;
            p.at = p.to;  // when the part runs out first: all of it was read
            range_.bind(1, expr).bind(2, p.from).bind(3, p.to);
            std::int64_t last = p.from;
            while (p.seen < kSampleHits && range_.step()) {
                last = range_.column_int(0);
                ++p.seen;
            }
            if (p.seen == kSampleHits) p.at = last;
            range_.reset();
            if (!range_.status().is_ok()) return range_.status();
            parts[count++] = p;
        }
        for (int i = 0; i < count; ++i) {
            const Part &p = parts[i];
            const double next = i + 1 < count ? parts[i + 1].density() : end_density;
            estimate += static_cast<double>(p.seen) + std::min(p.density(), next) * static_cast<double>(p.to - p.at);
        }
        return Status::ok();
    }

    Status walk(const std::string &expr, bool place, bool &any)
    {
        any = false;
        stmt_.bind(1, expr);
        while (!full() && stmt_.step()) {
            std::int64_t rowid = stmt_.column_int(0);
            if (placed_.count(rowid)) continue;
            any = true;
            if (!place) break;
            placed_.insert(rowid);
            out_.rowids.push_back(rowid);
        }
        stmt_.reset();
        return stmt_.status();
    }

    sqlite3 *db_;
    std::int64_t need_;
    RankedHits &out_;
    std::string matches_;  // the query for expr's matches, without an order
    Statement stmt_;
    Statement back_;  // the same, from the end of the listing
    Statement range_; // the same, within a range of rowids
    std::unordered_set<std::int64_t> placed_;
};

// The forms a prefix is searched as. FTS5 reads a word's matches lazily in
// rowid order, but a prefix query without an index of its own length merges
// every matching word's list in full before the first row: over a million
// documents that is a third of a second for a common two letters. So:
//   - prefixes of kIndexedPrefix characters use the index's prefix index;
//   - one character becomes its one-letter word and every two-character
//     prefix of the vocabulary that starts with it (a few dozen);
//   - longer prefixes become the vocabulary's words that start with them,
//     while there are at most kMaxExpansion; beyond, a prefix query, which
//     sets `slow`.
Status prefix_forms(sqlite3 *db, const SearchTables &tables, VocabularyCursor &cursor, const std::string &prefix,
                    std::vector<std::string> &forms, bool &slow)
{
    forms.clear();
    std::size_t chars = utf8_length(prefix);
    if (chars == kIndexedPrefix) {
        forms.push_back(quoted(prefix) + "*");
        return Status::ok();
    }
    if (Status st = cursor.open(db, tables.vocabulary); !st.is_ok()) return st;
    cursor.seek(prefix);
    std::string term;
    bool found = false;
    if (chars < kIndexedPrefix) {
        for (;;) {
            if (Status st = cursor.next(term, found); !st.is_ok()) return st;
            if (!found || !term.starts_with(prefix)) break;
            if (term == prefix) {
                forms.push_back(quoted(term));
                continue;
            }
            // The term's first kIndexedPrefix characters, then past them.
            std::size_t i = 0;
            for (std::size_t c = 0; c < kIndexedPrefix && i < term.size(); ++c) decode_char(term, i);
            std::string two = term.substr(0, i);
            forms.push_back(quoted(two) + "*");
            cursor.seek(two + '\xFF');
        }
        return Status::ok();
    }
    for (;;) {
        if (Status st = cursor.next(term, found); !st.is_ok()) return st;
        if (!found || !term.starts_with(prefix)) break;
        if (forms.size() == kMaxExpansion) {
            forms.assign(1, quoted(prefix) + "*");
            slow = true;
            break;
        }
        forms.push_back(quoted(term));
    }
    return Status::ok();
}

// Adds to u the alternative of `prefix` typed with `typos` typos, when some
// word of the vocabulary begins with it.
Status add_prefix(sqlite3 *db, const SearchTables &tables, VocabularyCursor &cursor, const std::string &prefix,
                  int typos, Unit &u)
{
    Alternative a{{}, typos};
    if (Status st = prefix_forms(db, tables, cursor, prefix, a.forms, a.merged); !st.is_ok()) return st;
    if (a.forms.empty()) return Status::ok();
    if (a.forms.size() > 1 && utf8_length(prefix) > kIndexedPrefix) a.collapsed = quoted(prefix) + "*";
    u.slow_prefix = u.slow_prefix || a.merged;
    u.prefix.push_back(std::move(a));
    return Status::ok();
}

Status build_units(sqlite3 *db, const SearchTables &tables, const std::vector<QueryUnit> &query,
                   std::vector<Unit> &units)
{
    units.clear();
    VocabularyCursor cursor;
    for (const QueryUnit &q : query) {
        Unit u;
        u.has_prefix = q.prefix;
        if (q.phrase || q.tokens.size() != 1) {
            std::string expr = phrase_expr(q.tokens);
            // FTS5 reads the prefix index for the phrase's last word too.
            u.slow_prefix = q.prefix && utf8_length(q.tokens.back()) != kIndexedPrefix;
            u.whole.push_back({{expr}, 0});
            if (q.prefix) u.prefix.push_back({{expr + "*"}, 0, {}, u.slow_prefix});
            split_prefix_only(u);
            units.push_back(std::move(u));
            continue;
        }
        const std::string &word = q.tokens[0];
        u.whole.push_back({{quoted(word)}, 0});
        if (q.prefix)
            if (Status st = add_prefix(db, tables, cursor, word, 0, u); !st.is_ok()) return st;
        int budget = typo_budget(utf8_length(word));
        if (budget > 0) {
            TypoVariants variants;
            if (Status st = cursor.open(db, tables.vocabulary); !st.is_ok()) return st;
            if (Status st = find_typo_variants(cursor, word, budget, q.prefix, variants); !st.is_ok()) return st;
            for (std::size_t i = 0; i < variants.terms.size() && i < kMaxVariants; ++i)
                u.whole.push_back({{quoted(variants.terms[i].text)}, variants.terms[i].distance});
            for (std::size_t i = 0; i < variants.prefixes.size() && i < kMaxVariants; ++i) {
                const auto &v = variants.prefixes[i];
                if (Status st = add_prefix(db, tables, cursor, v.text, v.distance, u); !st.is_ok()) return st;
            }
        }
        split_prefix_only(u);
        units.push_back(std::move(u));
    }
    return Status::ok();
}

// expr, and extra too when there is one.
std::string and_also(const std::string &expr, const std::string &extra)
{
    return extra.empty() ? expr : "(" + expr + ") AND " + extra;
}

// An expression for "at least m of these": an OR of every m of them
// together, in parentheses.
std::string some_of(const std::vector<std::string> &exprs, std::size_t m)
{
    static_assert(kLaterUnits <= 8, "every subset is written out");
    std::string out;
    for (unsigned mask = 1; mask < (1u << exprs.size()); ++mask) {
        if (static_cast<std::size_t>(std::popcount(mask)) != m) continue;
        std::string term;
        for (std::size_t i = 0; i < exprs.size(); ++i)
            if (mask & (1u << i)) term += (term.empty() ? "" : " AND ") + exprs[i];
        out += (out.empty() ? "((" : " OR (") + term + ")";
    }
    return out + ")";
}

}  // namespace

Status rank(sqlite3 *db, const SearchTables &tables, const std::vector<QueryUnit> &query, std::int64_t need,
            RankedHits &out)
{
    out.rowids.clear();
    out.total = 0;
    if (query.empty()) return Status::ok();
    std::vector<Unit> built;
    if (Status st = build_units(db, tables, query, built); !st.is_ok()) return st;
    Planner plan(std::move(built));
    const std::size_t n = plan.units().size();
    const bool last_is_prefix = plan.units().back().has_prefix;

    Walker walker(db, need, out);
    if (Status st = walker.prepare(tables); !st.is_ok()) return st;

    // How many units must match: all of them, or, when no document has
    // them all, the most that some document has, dropping from the end.
    // Each typo level's expression over the first k units (the last level
    // takes every typo beyond) serves the count and the cascade alike.
    std::size_t k = n;
    int most = 0, levels = 0;
    std::vector<std::string> level_expr;
    bool without_typos = false;  // some document matches level_expr[0]
    bool with_typos = false;     // counted: some document matches level_expr[levels]
    auto count_first = [&](std::size_t units) {
        k = units;
        Bucket b{k, 0, Match::any};
        most = plan.max_typos(b);
        // A long query can have many typos in all: past the levels it can
        // afford (see kTypoLevels), the remaining ones share the last bucket.
        levels = std::min(most, kMaxTypoLevels);
        level_expr.clear();
        for (int t = 0; t < levels; ++t) {
            b.typos = t;
            bool coarse = false;
            std::string expr = plan.anywhere(b, &coarse);
            if (t >= kTypoLevels && (coarse || terms_in(expr) > kLevelTerms)) {
                levels = t;
                break;
            }
            level_expr.push_back(std::move(expr));
        }
        b.typos = most;
        level_expr.push_back(plan.anywhere(b));
        // Without typos first: when that alone is within a thousand, the
        // count with typos is exact up to a thousand too. Beyond, the typo
        // matches are counted as well (read from both ends, which costs every
        // variant's lists: 5-10 ms for a word of many neighbours on a million
        // documents), unless those without typos already hold nearly every
        // document, or a slow prefix would be merged in full twice more.
        // What lies between the two ends is sampled while the terms are few;
        // with many, it is taken to be as dense as the ends (see
        // kSampledTerms), which a block of typo matches at each end of the
        // listing makes far too high.
        const bool both_ends = !(k == n && plan.units().back().slow_prefix);
        if (Status st = walker.count(level_expr[0], tables, both_ends, true, out.total); !st.is_ok()) return st;
        without_typos = out.total > 0;
        with_typos = false;
        if (most > 0 && (out.total <= kExactTotal ||
                         (both_ends && tables.document_count - out.total > out.total / 20))) {
            std::int64_t wider = 0;
            const bool sample = terms_in(level_expr[levels]) <= kSampledTerms;
            if (Status st = walker.count(level_expr[levels], tables, both_ends, sample, wider); !st.is_ok())
                return st;
            out.total = std::max(out.total, wider);
            with_typos = wider > 0;
        }
        // An estimate never passes the index itself.
        out.total = std::min(out.total, tables.document_count);
        return Status::ok();
    };
    if (Status st = count_first(n); !st.is_ok()) return st;
    if (out.total == 0 && n > 1) {
        // A document with the first j units has the first j - 1 too, so the
        // longest run some document has is found by halving, not by trying
        // every length: a long query of unknown words stays cheap.
        std::size_t found = 0, above = n;  // some document has `found` units, none has `above`
        while (above - found > 1) {
            std::size_t mid = found + (above - found) / 2;
            Bucket b{mid, 0, Match::any};
            b.typos = plan.max_typos(b);
            bool any = false;
            if (Status st = walker.exists(plan.anywhere(b), any); !st.is_ok()) return st;
            (any ? found : above) = mid;
        }
        if (found == 0) return Status::ok();
        if (Status st = count_first(found); !st.is_ok()) return st;
    }
    if (out.total == 0 || need <= 0) return Status::ok();

    // Below typo level t, that level's cascade: proximity, then columns,
    // then whole words before prefixes. `extra`, when given, is ANDed to
    // every bucket (the later units a level must also have); proximity and
    // columns concern the first k units only. `extra_whole`, when given, is
    // `extra` with the last unit typed as a whole word: those go first in
    // each column bucket.
    // A probe over a slow prefix merges its words' lists in full, as dear as
    // the walks it would spare below a column level, so those levels are
    // walked unprobed.
    const bool probe_columns = !(k == n && plan.units().back().slow_prefix);
    auto rank_level = [&](int t, const std::string &extra, const std::string &extra_whole) -> Status {
        const Bucket level{k, t == levels ? most : t, Match::any};
        const std::string &all = level_expr[t];
        auto with = [&](const std::string &expr) { return and_also(expr, extra); };
        // Proximity: as a phrase in query order, close, nearby, anywhere.
        std::vector<int> gaps;
        if (k > 1) gaps = {-1, static_cast<int>(k) - 1, 8 * (static_cast<int>(k) - 1)};
        gaps.push_back(-2);
        for (int gap : gaps) {
            if (walker.full()) break;
            bool anywhere = gap == -2;
            std::string within = anywhere ? all : plan.near(level, gap);
            if (within.empty()) continue;
            bool near_any = true;
            if (!anywhere)
                if (Status st = walker.any_left(with(within), near_any); !st.is_ok()) return st;
            if (!near_any) continue;
            // With the last word typed so far, whole words go before prefixes:
            // the bucket's whole-word matches, then what only a prefix adds
            // (every whole match is placed by then, and a query over just the
            // prefix words reads far less than the whole bucket again; none
            // when the prefix adds no word).
            std::string whole_only, prefix_only;
            const std::string *rest = &within;
            if (k == n && last_is_prefix) {
                Bucket whole{k, level.typos, Match::whole};
                whole_only = anywhere ? plan.anywhere(whole) : plan.near(whole, gap);
                if (!whole_only.empty()) {
                    rest = nullptr;
                    if (!plan.units().back().prefix_only.empty()) {
                        Bucket prefixed{k, level.typos, Match::prefix_only};
                        prefix_only = anywhere ? plan.anywhere(prefixed) : plan.near(prefixed, gap);
                        rest = prefix_only.empty() ? &within : &prefix_only;
                    }
                }
            }
            for (int columns = 1; columns <= kTextColumns && !walker.full(); ++columns) {
                bool column_any = true;
                if (probe_columns && columns < kTextColumns)
                    if (Status st = walker.any_left(with(in_columns(columns, within)), column_any); !st.is_ok())
                        return st;
                if (!column_any) continue;
                if (!whole_only.empty())
                    if (Status st = walker.take(with(in_columns(columns, whole_only))); !st.is_ok()) return st;
                if (rest && !extra_whole.empty() && !walker.full())
                    if (Status st = walker.take(and_also(in_columns(columns, *rest), extra_whole)); !st.is_ok())
                        return st;
                if (rest && !walker.full())
                    if (Status st = walker.take(with(in_columns(columns, *rest))); !st.is_ok()) return st;
            }
        }
        return Status::ok();
    };

    // More query words matched first. Every document here has the first k
    // units and none has unit k too, but some may have later ones: those
    // with more of the next kLaterUnits go first, then by typos. On a small
    // index each such level is then ranked like the rest; on a large one it
    // goes in listing order. A level holding few documents is read to the
    // end of their lists, once per bucket: split like the rest, a query of
    // nine words with the second unknown took 570 ms on a million documents
    // instead of 29. With more than one later unit, one probe first skips
    // them all when no document has any.
    const bool rank_later = tables.document_count <= kRankLaterUpTo;
    std::vector<std::string> later, later_whole;
    for (std::size_t i = k + 1; i < n && later.size() < kLaterUnits; ++i) {
        later.push_back(plan.any_way(i));
        if (rank_later) later_whole.push_back(plan.whole_way(i));
    }
    const bool later_prefix = rank_later && later_whole != later;  // the last unit typed is among them, as a prefix
    bool any = !later.empty();
    if (later.size() > 1)
        if (Status st = walker.any_left(and_also(level_expr[levels], some_of(later, 1)), any); !st.is_ok())
            return st;
    for (std::size_t m = later.size(); any && m >= 1 && !walker.full(); --m) {
        const std::string extra = some_of(later, m);
        const std::string extra_whole = later_prefix ? some_of(later_whole, m) : "";
        for (int t = 0; t <= levels && !walker.full(); ++t) {
            const std::string bucket = and_also(level_expr[t], extra);
            if (!rank_later) {
                if (Status st = walker.take(bucket); !st.is_ok()) return st;
                continue;
            }
            bool here = true;
            if (Status st = walker.any_left(bucket, here); !st.is_ok()) return st;
            if (here)
                if (Status st = rank_level(t, extra, extra_whole); !st.is_ok()) return st;
        }
    }

    // The rest of the cascade.
    for (int t = 0; t <= levels && !walker.full(); ++t) {
        // The counts told whether the first level and the widest hold a
        // document: with nothing placed yet, no probe need ask again (each
        // merges a slow prefix in full once more).
        if (t == 0 && !without_typos) continue;
        any = true;
        const bool known = out.rowids.empty() && (t == 0 || (t == levels && with_typos));
        if (most > 0 && !known)
            if (Status st = walker.any_left(level_expr[t], any); !st.is_ok()) return st;
        if (!any) continue;
        if (Status st = rank_level(t, "", ""); !st.is_ok()) return st;
    }
    return Status::ok();
}

}  // namespace korrin
