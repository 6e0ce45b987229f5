/*
 * The query path: one search over one index.
 *
 * An empty query (no words) lists the documents in the order they were
 * first added, paged by seq. Any other query is parsed into units (words,
 * phrases, runs of unspaced characters; see words.cpp) and ranked by the
 * bucket cascade of ranking.cpp, which forgives typos, reads the last word
 * also as a prefix, and drops words from the end when no document has them
 * all. Nothing the user types is read as FTS5 syntax: every word reaches
 * FTS5 as a quoted string.
 *
 * Cost: the cascade stops once offset + limit hits are placed, and the hit
 * count stops at a thousand and one (estimated beyond), so a common word
 * over a million documents costs about what a rare one does. Nothing here
 * scores every match (bm25() would).
 */
#include "kr_search.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>

namespace korrin {

namespace {
constexpr std::int32_t kMaxLimit = 1000;
}  // namespace

Status op_search(Store &s, const char *uid, const char *query, std::int32_t limit, std::int32_t offset,
                 std::string &out)
{
    auto started = std::chrono::steady_clock::now();
    std::string_view q = query ? std::string_view(query) : std::string_view();
    std::int64_t lim = std::clamp<std::int32_t>(limit, 0, kMaxLimit);
    std::int64_t off = std::max<std::int32_t>(offset, 0);

    std::optional<Transaction> tx;  // read-only: always rolled back
    IndexInfo info;
    if (Status st = open_index(s, uid, false, tx, info); !st.is_ok()) return st;

    std::vector<QueryUnit> units;
    if (!q.empty()) {
        Tokenizer tokenizer;
        if (Status st = tokenizer.open(s.db()); !st.is_ok()) return st;
        bool current = false;
        if (Status st = has_current_form(s, info, current); !st.is_ok()) return st;
        if (Status st = parse_query(tokenizer, q, current, units); !st.is_ok()) return st;
    }

    // The reply is written in place, hits first; the other fields follow
    // once the hits are read.
    out.assign("{\"hits\":[");
    const std::size_t first_hit = out.size();
    std::int64_t total = 0;
    auto add_hit = [&](std::string_view body) {
        if (out.size() > first_hit) out += ',';
        out.append(body);
    };

    if (units.empty()) {
        // No words: the listing, in the order documents were first added.
        Statement st(s.db(), "SELECT body FROM " + info.documents_table() + " ORDER BY seq LIMIT ?1 OFFSET ?2");
        st.bind(1, lim).bind(2, off);
        while (st.step()) add_hit(st.column_text(0));
        if (!st.status().is_ok()) return st.status();
        total = info.document_count;
    } else {
        RankedHits ranked;
        SearchTables tables{info.fulltext_table(), info.vocabulary_table(), info.documents_table(),
                            info.document_count};
        if (Status st = rank(s.db(), tables, units, off + lim, ranked); !st.is_ok()) return st;
        total = std::max<std::int64_t>(ranked.total, static_cast<std::int64_t>(ranked.rowids.size()));
        Statement body(s.db(), "SELECT body FROM " + info.documents_table() + " WHERE seq = ?1");
        for (std::size_t i = static_cast<std::size_t>(std::min<std::int64_t>(off, ranked.rowids.size()));
             i < ranked.rowids.size(); ++i) {
            body.bind(1, ranked.rowids[i]);
            if (body.step()) add_hit(body.column_text(0));
            if (!body.status().is_ok()) return body.status();
            body.reset();
        }
    }

    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    out += "],\"query\":";
    append_json_string(out, q);
    out += ",\"processingTimeMs\":" + std::to_string(elapsed.count());
    out += ",\"limit\":" + std::to_string(lim);
    out += ",\"offset\":" + std::to_string(off);
    out += ",\"estimatedTotalHits\":" + std::to_string(total);
    out += '}';
    return Status::ok();
}

}  // namespace korrin
