/*
 * Measures the engine's budgets on a generated corpus.
 *
 *   korrin_budget fill  DIR [N=1000000] [BATCH=200000]
 *       adds N documents of about 500 bytes to index "bench" in batches
 *       of BATCH, one korrin_documents_add each, and prints the rate of
 *       every batch (parse, validation, storage and full-text indexing).
 *   korrin_budget fetch DIR [RUNS=200]
 *       runs RUNS fresh processes that each do korrin_init, one
 *       korrin_document_get of a random id and korrin_cleanup, and prints
 *       the CPU time (user + system) of those three calls, measured inside
 *       the process so that process start-up is excluded.
 *   korrin_budget search DIR [RUNS=30] [WORDS...]
 *       runs fresh processes that each search one query, top 20, and prints
 *       the wall time of init + search + cleanup (warm page cache).
 *
 * The corpus is generated, never stored in the repository: put DIR under
 * build/ or /tmp. Words come from a fixed list with a Zipf-like frequency,
 * so the first words of the list are in most documents ("common words").
 */
#include "korrin.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// The vocabulary: syllable combinations, deterministic, 20,000 words.
std::vector<std::string> vocabulary()
{
    static const char *const syl[] = {"ka", "lo", "mi", "ren", "tu", "sa", "vel", "or", "ni", "des",
                                      "pa", "qui", "ro", "shen", "ta", "bu", "mar", "el", "fi", "gon"};
    std::vector<std::string> words = {"the", "and", "of", "movie", "story", "great", "world", "life", "love", "time"};
    for (int i = 0; words.size() < 20000; ++i) {
        std::string w;
        int n = i;
        do {
            w += syl[n % 20];
            n /= 20;
        } while (n > 0);
        words.push_back(w + syl[i % 7]);
    }
    return words;
}

struct Rng {
    std::uint64_t s;
    std::uint64_t next()
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
    double unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }
};

// Zipf-like pick: rank ~ exp(u * ln(V)), so rank 1 comes up in ~1/ln(V) of draws.
const std::string &pick(const std::vector<std::string> &v, Rng &rng)
{
    auto r = static_cast<std::size_t>(std::exp(rng.unit() * std::log(static_cast<double>(v.size())))) - 1;
    return v[std::min(r, v.size() - 1)];
}

std::string document(std::int64_t id, const std::vector<std::string> &v, Rng &rng)
{
    std::string d = "{\"id\":" + std::to_string(id) + ",\"title\":\"";
    int title_words = 3 + static_cast<int>(rng.next() % 4);
    for (int i = 0; i < title_words; ++i) d += (i ? " " : "") + pick(v, rng);
    d += "\",\"overview\":\"";
    std::size_t start = d.size();
    while (d.size() - start < 360) d += pick(v, rng) + " ";
    d.pop_back();
    d += "\",\"genres\":[\"" + pick(v, rng) + "\",\"" + pick(v, rng) + "\"],\"year\":" +
         std::to_string(1900 + rng.next() % 125) + ",\"rating\":" + std::to_string(rng.next() % 10) + "." +
         std::to_string(rng.next() % 10) + "}";
    return d;
}

double cpu_seconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Resident memory in MB from /proc/self/status ("VmRSS" now, "VmHWM" peak).
double memory_mb(const char *field)
{
    FILE *f = fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    double kb = 0;
    std::size_t n = strlen(field);
    while (fgets(line, sizeof line, f))
        if (!strncmp(line, field, n) && line[n] == ':') kb = atof(line + n + 1);
    fclose(f);
    return kb / 1024;
}

// Lets VmHWM start again from the current resident size.
void reset_peak_memory()
{
    if (FILE *f = fopen("/proc/self/clear_refs", "w")) {
        fputs("5", f);
        fclose(f);
    }
}

double wall_seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int fill(const char *dir, long total, long batch)
{
    if (korrin_init(dir) != 0) return fprintf(stderr, "init: %s\n", korrin_last_error()), 1;
    std::vector<std::string> v = vocabulary();
    Rng rng{0x9E3779B97F4A7C15ull};
    for (long first = 0; first < total; first += batch) {
        long n = std::min(batch, total - first);
        std::string body = "[";
        for (long i = 0; i < n; ++i) {
            if (i) body += ',';
            body += document(first + i, v, rng);
        }
        body += ']';
        body.shrink_to_fit();
        reset_peak_memory();
        double rss0 = memory_mb("VmRSS");
        double t0 = wall_seconds(), c0 = cpu_seconds();
        int added = korrin_documents_add("bench", body.c_str());
        double t = wall_seconds() - t0, c = cpu_seconds() - c0;
        if (added != n) return fprintf(stderr, "add: %s\n", korrin_last_error()), 1;
        double body_mb = static_cast<double>(body.size()) / (1 << 20);
        double peak = memory_mb("VmHWM");
        printf("batch %ld..%ld: %ld docs, %.1f MB, %.2f s wall (%.0f docs/s), %.2f s cpu (%.0f docs/s), "
               "peak memory %.0f MB = body x %.2f (the caller's body %.0f MB and %.0f MB before the call "
               "included)\n",
               first, first + n - 1, n, body_mb, t, static_cast<double>(n) / t, c, static_cast<double>(n) / c, peak,
               peak / body_mb, body_mb, rss0);
        fflush(stdout);
    }
    korrin_cleanup();
    return 0;
}

// One child: init + get + cleanup, CPU time in microseconds on stdout.
int fetch_once(const char *dir, const char *id)
{
    double c0 = cpu_seconds();
    if (korrin_init(dir) != 0) return 1;
    const char *doc = korrin_document_get("bench", id);
    bool ok = doc != nullptr;
    korrin_cleanup();
    double c = cpu_seconds() - c0;
    printf("%.1f\n", c * 1e6);
    return ok ? 0 : 2;
}

int search_once(const char *dir, const char *query)
{
    double t0 = wall_seconds();
    if (korrin_init(dir) != 0) return 1;
    double t1 = wall_seconds();
    const char *r = korrin_search("bench", query, 20, 0);
    double t2 = wall_seconds();
    bool ok = r != nullptr;
    long long total = -1;
    if (r) {
        const char *p = strstr(r, "\"estimatedTotalHits\":");
        if (p) total = atoll(p + 21);
    }
    korrin_cleanup();
    double t3 = wall_seconds();
    printf("%.3f %.3f %lld\n", (t3 - t0) * 1e3, (t2 - t1) * 1e3, total);
    return ok ? 0 : 2;
}

// Runs this program again with args; returns its first output line.
std::string run_child(const char *self, std::vector<std::string> args)
{
    int fd[2];
    if (pipe(fd) != 0) return "";
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fd[1], 1);
        close(fd[0]);
        std::vector<char *> argv{const_cast<char *>(self)};
        for (auto &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(self, argv.data());
        _exit(127);
    }
    close(fd[1]);
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = read(fd[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
    close(fd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return out;
}

double median(std::vector<double> v)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

int fetch(const char *self, const char *dir, int runs)
{
    Rng rng{static_cast<std::uint64_t>(time(nullptr)) | 1};
    std::vector<double> us;
    for (int i = 0; i < runs; ++i) {
        std::string out = run_child(self, {"fetch1", dir, std::to_string(rng.next() % 1000000)});
        if (!out.empty()) us.push_back(atof(out.c_str()));
    }
    printf("init + get + cleanup, CPU per process over %zu runs: median %.0f us, p90 %.0f us, max %.0f us\n",
           us.size(), median(us), percentile(us, 0.9), percentile(us, 1.0));
    return 0;
}

int search(const char *self, const char *dir, int runs, std::vector<std::string> queries)
{
    if (queries.empty()) queries = {"the", "movie", "story great", "lo", "kalo"};
    for (const auto &q : queries) {
        std::vector<double> total, query;
        long long hits = -1;
        for (int i = 0; i < runs; ++i) {
            std::string out = run_child(self, {"search1", dir, q});
            double a = 0, b = 0;
            if (sscanf(out.c_str(), "%lf %lf %lld", &a, &b, &hits) == 3) {
                total.push_back(a);
                query.push_back(b);
            }
        }
        printf("query \"%s\" top 20 (estimatedTotalHits %lld): search median %.2f ms (p90 %.2f), "
               "init+search+cleanup median %.2f ms\n",
               q.c_str(), hits, median(query), percentile(query, 0.9), median(total));
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && !strcmp(argv[1], "fill"))
        return fill(argv[2], argc > 3 ? atol(argv[3]) : 1000000, argc > 4 ? atol(argv[4]) : 200000);
    if (argc >= 3 && !strcmp(argv[1], "fetch")) return fetch(argv[0], argv[2], argc > 3 ? atoi(argv[3]) : 200);
    if (argc >= 3 && !strcmp(argv[1], "search"))
        return search(argv[0], argv[2], argc > 3 ? atoi(argv[3]) : 30,
                      std::vector<std::string>(argv + std::min(argc, 4), argv + argc));
    if (argc == 4 && !strcmp(argv[1], "fetch1")) return fetch_once(argv[2], argv[3]);
    if (argc == 4 && !strcmp(argv[1], "search1")) return search_once(argv[2], argv[3]);
    fprintf(stderr, "usage: %s fill|fetch|search DIR [...]\n", argv[0]);
    return 2;
}
