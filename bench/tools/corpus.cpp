// Benchmark corpus generator: movie-like JSON documents of about 500 bytes
// whose words are drawn Zipf-like from a word list, so a few words are in
// nearly every document and most are rare, as in real text.
//
//   bench_corpus --docs N --out PREFIX [--words FILE] [--seed S]
//
// writes PREFIX.json (one JSON array), PREFIX.ndjson (one document a line)
// and PREFIX.queries.json (the query of each search class, chosen from the
// document frequencies actually generated). The output depends only on the
// word list, N and the seed: the generator carries its own random number
// generator and distributions, never the standard library's, whose results
// differ between implementations. A million documents take a few seconds.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

struct Rng {
    uint64_t state;
    uint64_t next()
    {
        uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    // uniform in [0, n)
    uint64_t below(uint64_t n) { return next() % n; }
    // uniform in [0, 1)
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

constexpr const char *k_genres[] = {
    "Action", "Adventure", "Animation", "Comedy", "Crime", "Documentary",
    "Drama", "Family", "Fantasy", "History", "Horror", "Music", "Mystery",
    "Romance", "Science Fiction", "Thriller", "War", "Western", "TV Movie"};
constexpr size_t k_genre_count = sizeof k_genres / sizeof k_genres[0];

// Bytes of overview text per document: with the other members this makes
// documents of about 500 bytes.
constexpr size_t k_overview_bytes = 370;

std::vector<std::string> load_words(const char *path)
{
    std::vector<std::string> words;
    FILE *f = std::fopen(path, "r");
    if (!f)
        return words;
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
        size_t n = std::strcspn(line, "\r\n");
        line[n] = '\0';
        // Plain lower-case words only: no names, possessives or accents, so
        // that every peer tokenizes the corpus the same way.
        bool plain = n >= 2;
        for (size_t i = 0; plain && i < n; ++i)
            plain = line[i] >= 'a' && line[i] <= 'z';
        if (plain)
            words.emplace_back(line, n);
    }
    std::fclose(f);
    return words;
}

struct Zipf {
    std::vector<double> cdf;
    explicit Zipf(size_t n) : cdf(n)
    {
        double sum = 0;
        for (size_t r = 0; r < n; ++r)
            cdf[r] = (sum += 1.0 / static_cast<double>(r + 1));
        for (double &c : cdf)
            c /= sum;
    }
    size_t draw(Rng &rng) const
    {
        double u = rng.unit();
        size_t r = static_cast<size_t>(std::upper_bound(cdf.begin(), cdf.end(), u) - cdf.begin());
        return r < cdf.size() ? r : cdf.size() - 1;
    }
};

struct Out {
    FILE *f;
    std::string buf;
    void put(std::string_view s)
    {
        buf.append(s);
        if (buf.size() > (1u << 20))
            flush();
    }
    void flush()
    {
        if (!buf.empty())
            std::fwrite(buf.data(), 1, buf.size(), f);
        buf.clear();
    }
};

// Picks the first word, in rank order from `from`, whose document frequency
// lies in [lo, hi] and whose length lies in [min_len, max_len]; falls back
// to the word at `from`.
size_t pick(const std::vector<std::string> &words, const std::vector<uint32_t> &df, size_t from,
            uint32_t lo, uint32_t hi, size_t min_len, size_t max_len)
{
    for (size_t r = from; r < words.size(); ++r)
        if (df[r] >= lo && df[r] <= hi && words[r].size() >= min_len && words[r].size() <= max_len)
            return r;
    return from;
}

} // namespace

int main(int argc, char **argv)
{
    long docs = 1000;
    uint64_t seed = 42;
    const char *words_path = "/usr/share/dict/american-english";
    const char *out = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--docs"))
            docs = std::atol(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seed"))
            seed = std::strtoull(argv[i + 1], nullptr, 10);
        else if (!std::strcmp(argv[i], "--words"))
            words_path = argv[i + 1];
        else if (!std::strcmp(argv[i], "--out"))
            out = argv[i + 1];
    }
    if (!out || docs < 1) {
        std::fprintf(stderr, "usage: bench_corpus --docs N --out PREFIX [--words FILE] [--seed S]\n");
        return 2;
    }
    std::vector<std::string> words = load_words(words_path);
    if (words.size() < 1000) {
        std::fprintf(stderr, "bench_corpus: too few words in %s\n", words_path);
        return 1;
    }
    Rng rng{seed};
    // Ranks are a seeded shuffle of the list, so the common words are not
    // simply the alphabetically first ones.
    for (size_t i = words.size() - 1; i > 0; --i)
        std::swap(words[i], words[rng.below(i + 1)]);
    Zipf zipf(words.size());
    std::vector<uint32_t> df(words.size(), 0);
    std::vector<uint32_t> seen_in(words.size(), 0);

    std::string json_path = std::string(out) + ".json";
    std::string nd_path = std::string(out) + ".ndjson";
    Out json{std::fopen(json_path.c_str(), "wb"), {}};
    Out nd{std::fopen(nd_path.c_str(), "wb"), {}};
    if (!json.f || !nd.f) {
        std::fprintf(stderr, "bench_corpus: cannot write %s\n", out);
        return 1;
    }
    json.put("[\n");
    std::string doc;
    char num[64];
    auto word = [&](long id, bool capital) {
        size_t r = zipf.draw(rng);
        if (seen_in[r] != static_cast<uint32_t>(id)) {
            seen_in[r] = static_cast<uint32_t>(id);
            ++df[r];
        }
        doc += words[r];
        if (capital)
            doc[doc.size() - words[r].size()] = static_cast<char>(doc[doc.size() - words[r].size()] - 'a' + 'A');
    };
    for (long id = 1; id <= docs; ++id) {
        doc.clear();
        std::snprintf(num, sizeof num, "{\"id\":%ld,\"title\":\"", id);
        doc += num;
        int title_words = 1 + static_cast<int>(rng.below(4));
        for (int w = 0; w < title_words; ++w) {
            if (w)
                doc += ' ';
            word(id, true);
        }
        doc += "\",\"overview\":\"";
        size_t start = doc.size();
        bool sentence_start = true;
        while (doc.size() - start < k_overview_bytes) {
            if (doc.size() > start)
                doc += ' ';
            word(id, sentence_start);
            sentence_start = rng.below(12) == 0;
            if (sentence_start)
                doc += '.';
        }
        if (doc.back() != '.')
            doc += '.';
        doc += "\",\"genres\":[";
        int genres = 1 + static_cast<int>(rng.below(3));
        size_t g0 = rng.below(k_genre_count);
        for (int g = 0; g < genres; ++g) {
            if (g)
                doc += ',';
            doc += '"';
            doc += k_genres[(g0 + static_cast<size_t>(g) * 7) % k_genre_count];
            doc += '"';
        }
        std::snprintf(num, sizeof num, "],\"release_date\":\"%04d-%02d-%02d\"}",
                      1950 + static_cast<int>(rng.below(75)), 1 + static_cast<int>(rng.below(12)),
                      1 + static_cast<int>(rng.below(28)));
        doc += num;
        json.put(doc);
        json.put(id < docs ? ",\n" : "\n");
        nd.put(doc);
        nd.put("\n");
    }
    json.put("]\n");
    json.flush();
    nd.flush();
    bool ok = std::fclose(json.f) == 0;
    ok = std::fclose(nd.f) == 0 && ok;

    // Query classes, chosen from the frequencies this corpus really has.
    uint32_t n = static_cast<uint32_t>(docs);
    size_t common = pick(words, df, 0, 0, n, 3, 12);
    size_t rare = pick(words, df, 2000, 2, std::max<uint32_t>(3, n / 2000), 5, 12);
    size_t second = pick(words, df, 20, n / 100 + 1, std::max<uint32_t>(n / 100 + 1, n / 10), 4, 12);
    size_t other = pick(words, df, 1, n / 5, n, 3, 12);
    size_t typo_src = pick(words, df, 50, n / 1000 + 1, std::max<uint32_t>(n / 1000 + 1, n / 50), 6, 8);
    std::string typo = words[typo_src];
    // One substituted letter in the middle, avoiding a real word of the list.
    for (char c = 'a'; c <= 'z'; ++c) {
        std::string t = typo;
        size_t mid = t.size() / 2;
        if (t[mid] == c)
            continue;
        t[mid] = c;
        if (std::find(words.begin(), words.end(), t) == words.end()) {
            typo = t;
            break;
        }
    }
    std::string qpath = std::string(out) + ".queries.json";
    FILE *q = std::fopen(qpath.c_str(), "wb");
    if (!q)
        return 1;
    std::fprintf(q,
                 "{\"docs\":%ld,\"seed\":%llu,\"queries\":[\n"
                 "{\"class\":\"common\",\"words\":[\"%s\"],\"prefix\":false,\"df\":%u},\n"
                 "{\"class\":\"rare\",\"words\":[\"%s\"],\"prefix\":false,\"df\":%u},\n"
                 "{\"class\":\"two_words\",\"words\":[\"%s\",\"%s\"],\"prefix\":false,\"df\":[%u,%u]},\n"
                 "{\"class\":\"prefix\",\"words\":[\"%.2s\"],\"prefix\":true},\n"
                 "{\"class\":\"typo\",\"words\":[\"%s\"],\"prefix\":false,\"intended\":\"%s\",\"df\":%u}\n"
                 "]}\n",
                 docs, static_cast<unsigned long long>(seed), words[common].c_str(), df[common],
                 words[rare].c_str(), df[rare], words[other].c_str(), words[second].c_str(), df[other],
                 df[second], words[common].c_str(), typo.c_str(), words[typo_src].c_str(), df[typo_src]);
    ok = std::fclose(q) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "bench_corpus: write failed under %s\n", out);
        return 1;
    }
    return 0;
}
