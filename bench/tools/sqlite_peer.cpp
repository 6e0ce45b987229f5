// The raw SQLite peer: what a user gets from SQLite and FTS5 alone, written
// the straightforward way. It is bench code, never linked into the product.
//
//   bench_sqlite ingest DB CORPUS.ndjson   one transaction: a plain table of
//                                          the documents plus an FTS5 table
//                                          of their text; prints docs/s
//   bench_sqlite query DB FTS5-QUERY [N]   one query per process, top N
//                                          (default 20) by bm25()
//
// The store has the durability the product promises (WAL, synchronous=FULL),
// so both pay for the same guarantee.
#include <sqlite3.h>
#include <yyjson.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

double now_s()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

bool exec(sqlite3 *db, const char *sql)
{
    char *err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "bench_sqlite: %s: %s\n", sql, err ? err : "?");
        sqlite3_free(err);
        return false;
    }
    return true;
}

const char *str_member(yyjson_val *obj, const char *key)
{
    const char *s = yyjson_get_str(yyjson_obj_get(obj, key));
    return s ? s : "";
}

int ingest(const char *path, const char *corpus)
{
    double t0 = now_s();
    FILE *f = std::fopen(corpus, "rb");
    if (!f) {
        std::fprintf(stderr, "bench_sqlite: cannot read %s\n", corpus);
        return 1;
    }
    sqlite3 *db = nullptr;
    if (sqlite3_open(path, &db) != SQLITE_OK)
        return 1;
    if (!exec(db, "PRAGMA journal_mode=WAL") || !exec(db, "PRAGMA synchronous=FULL") ||
        !exec(db, "CREATE TABLE IF NOT EXISTS docs(id INTEGER PRIMARY KEY, body TEXT NOT NULL)") ||
        !exec(db, "CREATE VIRTUAL TABLE IF NOT EXISTS fts USING fts5(title, overview, genres)") ||
        !exec(db, "BEGIN"))
        return 1;
    sqlite3_stmt *doc_stmt = nullptr, *fts_stmt = nullptr;
    sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO docs(id, body) VALUES(?1, ?2)", -1, &doc_stmt, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO fts(rowid, title, overview, genres) VALUES(?1, ?2, ?3, ?4)", -1,
                       &fts_stmt, nullptr);
    if (!doc_stmt || !fts_stmt)
        return 1;
    char *line = nullptr;
    size_t cap = 0;
    ssize_t n;
    long count = 0;
    std::string genres;
    while ((n = getline(&line, &cap, f)) > 0) {
        yyjson_doc *doc = yyjson_read(line, static_cast<size_t>(n), 0);
        yyjson_val *root = yyjson_doc_get_root(doc);
        if (!yyjson_is_obj(root)) {
            yyjson_doc_free(doc);
            continue;
        }
        sqlite3_int64 id = yyjson_get_sint(yyjson_obj_get(root, "id"));
        genres.clear();
        yyjson_val *g;
        yyjson_arr_iter it = yyjson_arr_iter_with(yyjson_obj_get(root, "genres"));
        while ((g = yyjson_arr_iter_next(&it))) {
            if (!genres.empty())
                genres += ' ';
            genres += yyjson_get_str(g) ? yyjson_get_str(g) : "";
        }
        size_t body_len = static_cast<size_t>(n);
        while (body_len > 0 && (line[body_len - 1] == '\n' || line[body_len - 1] == '\r'))
            --body_len;
        sqlite3_bind_int64(doc_stmt, 1, id);
        sqlite3_bind_text(doc_stmt, 2, line, static_cast<int>(body_len), SQLITE_STATIC);
        sqlite3_bind_int64(fts_stmt, 1, id);
        sqlite3_bind_text(fts_stmt, 2, str_member(root, "title"), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(fts_stmt, 3, str_member(root, "overview"), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(fts_stmt, 4, genres.c_str(), -1, SQLITE_STATIC);
        if (sqlite3_step(doc_stmt) != SQLITE_DONE || sqlite3_step(fts_stmt) != SQLITE_DONE) {
            std::fprintf(stderr, "bench_sqlite: insert failed: %s\n", sqlite3_errmsg(db));
            return 1;
        }
        sqlite3_reset(doc_stmt);
        sqlite3_reset(fts_stmt);
        yyjson_doc_free(doc);
        ++count;
    }
    std::free(line);
    std::fclose(f);
    sqlite3_finalize(doc_stmt);
    sqlite3_finalize(fts_stmt);
    if (!exec(db, "COMMIT"))
        return 1;
    sqlite3_close(db);
    double secs = now_s() - t0;
    std::printf("{\"docs\":%ld,\"seconds\":%.4f,\"docs_per_s\":%.1f}\n", count, secs,
                static_cast<double>(count) / secs);
    return 0;
}

int query(const char *path, const char *match, int limit)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path, &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "bench_sqlite: cannot open %s\n", path);
        return 1;
    }
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db,
                           "SELECT docs.body FROM fts JOIN docs ON docs.id = fts.rowid "
                           "WHERE fts MATCH ?1 ORDER BY bm25(fts) LIMIT ?2",
                           -1, &st, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "bench_sqlite: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    sqlite3_bind_text(st, 1, match, -1, SQLITE_STATIC);
    sqlite3_bind_int(st, 2, limit);
    std::string out = "{\"hits\":[";
    int hits = 0, rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        if (hits++)
            out += ',';
        out += reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
    }
    if (rc != SQLITE_DONE) {
        std::fprintf(stderr, "bench_sqlite: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    out += "]}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 4 && !std::strcmp(argv[1], "ingest"))
        return ingest(argv[2], argv[3]);
    if (argc >= 4 && !std::strcmp(argv[1], "query"))
        return query(argv[2], argv[3], argc >= 5 ? std::atoi(argv[4]) : 20);
    std::fprintf(stderr, "usage: bench_sqlite ingest DB CORPUS.ndjson | query DB FTS5-QUERY [N]\n");
    return 2;
}
