/*
 * The query path: one search over one index.
 *
 * Baseline matching: the query is split into words by the index's own FTS5
 * tokenizer, every word must match and the last one also as a prefix; hits
 * come in listing order. Each word is passed to FTS5 as a quoted string, so
 * no FTS5 syntax typed by a user is ever interpreted.
 *
 * Cost: matches are walked in rowid order and the walk stops at
 * max(offset + limit, 1001), so a common word over a million documents costs
 * the same as a rare one. Nothing here scores all matches (bm25() would).
 * "estimatedTotalHits" is exact up to 1000 matches; beyond, it extrapolates
 * from how far into the rowid range the walk had to go.
 */
#include "kr_internal.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>

namespace korrin {

namespace {

constexpr std::int64_t kExactTotal = 1000;
constexpr std::int32_t kMaxLimit = 1000;

int collect_token(void *ctx, int /*flags*/, const char *token, int len, int /*start*/, int /*end*/)
{
    auto *words = static_cast<std::vector<std::string> *>(ctx);
    if (len > 0) words->emplace_back(token, static_cast<std::size_t>(len));
    return SQLITE_OK;
}

Status tokenize(sqlite3 *db, std::string_view text, std::vector<std::string> &words)
{
    fts5_api *api = nullptr;
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &stmt, nullptr) != SQLITE_OK)
        return db_error(db, "preparing the query");
    // The pointer binding is how FTS5 hands out its C interface.
    sqlite3_bind_pointer(stmt, 1, static_cast<void *>(&api), "fts5_api_ptr", nullptr);
    sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (api == nullptr) return Status::error("The full-text search module is not available.");

    void *user_data = nullptr;
    fts5_tokenizer tokenizer{};
    if (api->xFindTokenizer(api, kTokenizerName, &user_data, &tokenizer) != SQLITE_OK)
        return Status::error("The full-text tokenizer is not available.");
    const char *args[] = {"remove_diacritics", "2"};
    Fts5Tokenizer *tok = nullptr;
    if (tokenizer.xCreate(user_data, args, 2, &tok) != SQLITE_OK)
        return Status::error("The full-text tokenizer cannot be created.");
    int rc = tokenizer.xTokenize(tok, &words, FTS5_TOKENIZE_QUERY, text.data(), static_cast<int>(text.size()),
                                 collect_token);
    tokenizer.xDelete(tok);
    if (rc != SQLITE_OK) return Status::error("The query cannot be split into words.");
    return Status::ok();
}

}  // namespace

Status fulltext_query(Store &s, std::string_view text, std::string &match)
{
    match.clear();
    std::vector<std::string> words;
    if (Status st = tokenize(s.db(), text, words); !st.is_ok()) return st;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i) match += ' ';
        match += '"';
        for (char c : words[i]) {
            if (c == '"') match += '"';
            match += c;
        }
        match += '"';
        if (i + 1 == words.size()) match += '*';
    }
    return Status::ok();
}

Status op_search(Store &s, const char *uid, const char *query, std::int32_t limit, std::int32_t offset,
                 std::string &out)
{
    auto started = std::chrono::steady_clock::now();
    if (Status st = check_uid(uid); !st.is_ok()) return st;
    std::string_view q = query ? std::string_view(query) : std::string_view();
    std::int64_t lim = std::clamp<std::int32_t>(limit, 0, kMaxLimit);
    std::int64_t off = std::max<std::int32_t>(offset, 0);

    if (Status st = s.begin_read(); !st.is_ok()) return st;
    struct ReadTx {
        Store &s;
        ~ReadTx() { s.rollback(); }
    } read_tx{s};
    IndexInfo info;
    bool found = false;
    if (Status st = s.find_index(uid, info, found); !st.is_ok()) return st;
    if (!found) return s.not_found(uid);

    std::string match;
    if (Status st = fulltext_query(s, q, match); !st.is_ok()) return st;

    std::string hits = "[";
    std::int64_t total = 0;
    auto add_hit = [&](std::string_view body) {
        if (hits.size() > 1) hits += ',';
        hits.append(body);
    };

    if (match.empty()) {
        // No words: the listing, in the order documents were first added.
        Statement st(s.db(), "SELECT body FROM " + info.documents_table() + " ORDER BY seq LIMIT ?1 OFFSET ?2");
        st.bind(1, lim).bind(2, off);
        while (st.step()) add_hit(st.column_text(0));
        if (!st.status().is_ok()) return st.status();
        total = info.document_count;
    } else {
        std::int64_t walk = std::max(off + lim, kExactTotal + 1);
        Statement st(s.db(), "SELECT rowid FROM " + info.fulltext_table() + " WHERE " + info.fulltext_table() +
                                 " MATCH ?1 ORDER BY rowid LIMIT ?2");
        st.bind(1, std::string_view(match)).bind(2, walk);
        std::vector<std::int64_t> page;
        std::int64_t walked = 0, last_rowid = 0;
        while (st.step()) {
            last_rowid = st.column_int(0);
            if (walked >= off && walked < off + lim) page.push_back(last_rowid);
            ++walked;
        }
        if (!st.status().is_ok()) return st.status();
        total = walked;
        if (walked == walk && walked > kExactTotal) {
            // The walk stopped early: extrapolate the share of the rowid
            // range it covered to the whole index.
            // Two subqueries: min() and max() together would scan the table.
            Statement range(s.db(), "SELECT (SELECT min(seq) FROM " + info.documents_table() +
                                        "), (SELECT max(seq) FROM " + info.documents_table() + ")");
            if (range.step()) {
                std::int64_t lo = range.column_int(0), hi = range.column_int(1);
                double covered = static_cast<double>(last_rowid - lo + 1) / static_cast<double>(hi - lo + 1);
                if (covered > 0) total = static_cast<std::int64_t>(static_cast<double>(walked) / covered);
            }
            total = std::clamp(total, walked, std::max(walked, info.document_count));
        }
        Statement body(s.db(), "SELECT body FROM " + info.documents_table() + " WHERE seq = ?1");
        for (std::int64_t seq : page) {
            body.bind(1, seq);
            if (body.step()) add_hit(body.column_text(0));
            if (!body.status().is_ok()) return body.status();
            body.reset();
        }
    }
    hits += ']';

    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    out.clear();
    out.reserve(hits.size() + q.size() + 128);
    out += "{\"hits\":";
    out += hits;
    out += ",\"query\":";
    append_json_string(out, q);
    out += ",\"processingTimeMs\":" + std::to_string(elapsed.count());
    out += ",\"limit\":" + std::to_string(lim);
    out += ",\"offset\":" + std::to_string(off);
    out += ",\"estimatedTotalHits\":" + std::to_string(total);
    out += '}';
    return Status::ok();
}

}  // namespace korrin
