/*
 * Measures the budgets of ranked, typo-tolerant search on a generated
 * corpus (bench_corpus writes one; keep it under build/ or /tmp).
 *
 *   korrin_search_bench load DIR CORPUS.ndjson [BATCH=100000]
 *       adds the corpus to index "bench" in batches of BATCH documents,
 *       one korrin_documents_add each, and prints the rate of each batch
 *       and of all, then the store's size by table.
 *   korrin_search_bench size DIR
 *       prints the store's size by table.
 *   korrin_search_bench query DIR RUNS QUERY...
 *       runs each query RUNS times, top 20, each time as a request does it
 *       (korrin_init, korrin_search, korrin_cleanup), after one untimed run
 *       that warms the page cache, and prints min, median and max in ms
 *       with the hit count.
 */
#include "korrin.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

int print_sizes(const std::string &dir)
{
    std::string path = dir + "/korrin.db";
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return 1;
    }
    // Table families: d_ documents, f_ full text (all its shadow tables),
    // v_ vocabulary, a_ attributes, the rest.
    sqlite3_stmt *s = nullptr;
    const char *sql =
        "SELECT CASE WHEN name LIKE 'f\\_%' ESCAPE '\\' THEN 'fulltext' "
        "WHEN name LIKE 'd\\_%' ESCAPE '\\' OR name LIKE 'sqlite_autoindex_d\\_%' ESCAPE '\\' THEN 'documents' "
        "WHEN name LIKE 'v\\_%' ESCAPE '\\' OR name LIKE 'sqlite_autoindex_v\\_%' ESCAPE '\\' THEN 'vocabulary' "
        "ELSE 'other' END AS family, sum(pgsize) FROM dbstat GROUP BY family ORDER BY family";
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "no dbstat: %s\n", sqlite3_errmsg(db));
        sqlite3_close(db);
        return 1;
    }
    long long total = 0;
    while (sqlite3_step(s) == SQLITE_ROW) {
        long long bytes = sqlite3_column_int64(s, 1);
        total += bytes;
        std::printf("size %-10s %10.1f MB\n", reinterpret_cast<const char *>(sqlite3_column_text(s, 0)),
                    static_cast<double>(bytes) / 1e6);
    }
    std::printf("size %-10s %10.1f MB\n", "total", static_cast<double>(total) / 1e6);
    sqlite3_finalize(s);
    sqlite3_close(db);
    return 0;
}

int load(const std::string &dir, const char *corpus, long batch)
{
    std::ifstream in(corpus, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", corpus);
        return 1;
    }
    if (korrin_init(dir.c_str()) != 0) {
        std::fprintf(stderr, "init: %s\n", korrin_last_error());
        return 1;
    }
    std::string line, body;
    long in_batch = 0, docs = 0;
    double spent = 0;
    auto flush = [&]() {
        if (in_batch == 0) return true;
        auto t = Clock::now();
        int32_t n = korrin_documents_add("bench", body.c_str());
        double ms = ms_since(t);
        if (n < 0) {
            std::fprintf(stderr, "add: %s\n", korrin_last_error());
            return false;
        }
        spent += ms;
        docs += n;
        std::printf("batch %ld docs in %.0f ms: %.0f docs/s\n", in_batch, ms, in_batch / (ms / 1000));
        body.clear();
        in_batch = 0;
        return true;
    };
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        body += line;
        body += '\n';
        if (++in_batch == batch && !flush()) return 1;
    }
    if (!flush()) return 1;
    korrin_cleanup();
    std::printf("added %ld docs in %.1f s: %.0f docs/s\n", docs, spent / 1000, docs / (spent / 1000));
    return print_sizes(dir);
}

int query(const std::string &dir, int runs, int argc, char **argv)
{
    for (int q = 0; q < argc; ++q) {
        std::vector<double> times;
        std::string reply;
        for (int r = 0; r <= runs; ++r) {
            auto t = Clock::now();
            if (korrin_init(dir.c_str()) != 0) {
                std::fprintf(stderr, "init: %s\n", korrin_last_error());
                return 1;
            }
            const char *out = korrin_search("bench", argv[q], 20, 0);
            if (!out) {
                std::fprintf(stderr, "search: %s\n", korrin_last_error());
                return 1;
            }
            if (r == 0) reply = out;
            korrin_cleanup();
            if (r > 0) times.push_back(ms_since(t));  // run 0 warms the cache
        }
        std::sort(times.begin(), times.end());
        const char *found = std::strstr(reply.c_str(), "\"estimatedTotalHits\":");
        long long total = found ? std::atoll(found + 21) : -1;
        std::printf("query \"%s\"%*s min %7.2f ms  median %7.2f ms  max %7.2f ms  hits %lld\n", argv[q],
                    std::max(0, 22 - static_cast<int>(std::strlen(argv[q]))), "", times.front(), times[times.size() / 2],
                    times.back(), total);
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "load") == 0)
        return load(argv[2], argv[3], argc > 4 ? std::atol(argv[4]) : 100000);
    if (argc == 3 && std::strcmp(argv[1], "size") == 0) return print_sizes(argv[2]);
    if (argc >= 5 && std::strcmp(argv[1], "query") == 0)
        return query(argv[2], std::max(1, std::atoi(argv[3])), argc - 4, argv + 4);
    std::fprintf(stderr,
                 "usage: korrin_search_bench load DIR CORPUS.ndjson [BATCH]\n"
                 "       korrin_search_bench size DIR\n"
                 "       korrin_search_bench query DIR RUNS QUERY...\n");
    return 2;
}
