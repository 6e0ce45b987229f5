// The Xapian peer: the corpus indexed with Xapian's TermGenerator the way its
// documentation does it, and one query per process. Bench code only.
//
//   bench_xapian index DBDIR CORPUS.ndjson   prints docs/s
//   bench_xapian query DBDIR QUERY [N]       top N (default 20)
//
// Terms are English-stemmed like Omega's defaults, and each document's data
// holds "id=" and "json=" lines, so Omega (served for the search mix) reads
// the same database through a template of its own.
#include <xapian.h>
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

int index_corpus(const char *path, const char *corpus)
{
    double t0 = now_s();
    FILE *f = std::fopen(corpus, "rb");
    if (!f) {
        std::fprintf(stderr, "bench_xapian: cannot read %s\n", corpus);
        return 1;
    }
    Xapian::WritableDatabase db(path, Xapian::DB_CREATE_OR_OVERWRITE);
    Xapian::TermGenerator tg;
    tg.set_stemmer(Xapian::Stem("english"));
    char *line = nullptr;
    size_t cap = 0;
    ssize_t n;
    long count = 0;
    while ((n = getline(&line, &cap, f)) > 0) {
        size_t len = static_cast<size_t>(n);
        while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r'))
            --len;
        yyjson_doc *jd = yyjson_read(line, len, 0);
        yyjson_val *root = yyjson_doc_get_root(jd);
        if (!yyjson_is_obj(root)) {
            yyjson_doc_free(jd);
            continue;
        }
        std::string id = std::to_string(yyjson_get_sint(yyjson_obj_get(root, "id")));
        Xapian::Document doc;
        tg.set_document(doc);
        for (const char *field : {"title", "overview"}) {
            const char *s = yyjson_get_str(yyjson_obj_get(root, field));
            if (s) {
                tg.index_text(s);
                tg.increase_termpos();
            }
        }
        yyjson_val *g;
        yyjson_arr_iter it = yyjson_arr_iter_with(yyjson_obj_get(root, "genres"));
        while ((g = yyjson_arr_iter_next(&it)))
            if (yyjson_get_str(g))
                tg.index_text(yyjson_get_str(g));
        doc.set_data("id=" + id + "\njson=" + std::string(line, len) + "\n");
        std::string idterm = "Q" + id;
        doc.add_boolean_term(idterm);
        // The corpus has unique ids and the database is new: adding is
        // what a bulk load does (replacing by the id term costs a lookup).
        db.add_document(doc);
        yyjson_doc_free(jd);
        ++count;
    }
    std::free(line);
    std::fclose(f);
    db.commit();
    db.close();
    double secs = now_s() - t0;
    std::printf("{\"docs\":%ld,\"seconds\":%.4f,\"docs_per_s\":%.1f}\n", count, secs,
                static_cast<double>(count) / secs);
    return 0;
}

int query(const char *path, const char *text, int limit)
{
    Xapian::Database db(path);
    Xapian::QueryParser qp;
    qp.set_database(db);
    qp.set_stemmer(Xapian::Stem("english"));
    qp.set_stemming_strategy(Xapian::QueryParser::STEM_SOME);
    qp.set_default_op(Xapian::Query::OP_AND);
    Xapian::Query q = qp.parse_query(text, Xapian::QueryParser::FLAG_DEFAULT | Xapian::QueryParser::FLAG_WILDCARD);
    Xapian::Enquire enquire(db);
    enquire.set_query(q);
    Xapian::MSet mset = enquire.get_mset(0, static_cast<Xapian::doccount>(limit));
    std::string out = "{\"estimatedTotalHits\":" + std::to_string(mset.get_matches_estimated()) + ",\"hits\":[";
    bool first = true;
    for (Xapian::MSetIterator m = mset.begin(); m != mset.end(); ++m) {
        std::string data = m.get_document().get_data();
        size_t at = data.find("json=");
        size_t end = data.find('\n', at);
        if (!first)
            out += ',';
        first = false;
        out += at == std::string::npos ? std::string("null") : data.substr(at + 5, end - at - 5);
    }
    out += "]}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    try {
        if (argc >= 4 && !std::strcmp(argv[1], "index"))
            return index_corpus(argv[2], argv[3]);
        if (argc >= 4 && !std::strcmp(argv[1], "query"))
            return query(argv[2], argv[3], argc >= 5 ? std::atoi(argv[4]) : 20);
    } catch (const Xapian::Error &e) {
        std::fprintf(stderr, "bench_xapian: %s\n", e.get_description().c_str());
        return 1;
    }
    std::fprintf(stderr, "usage: bench_xapian index DBDIR CORPUS.ndjson | query DBDIR QUERY [N]\n");
    return 2;
}
