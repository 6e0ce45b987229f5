#include <string.h>

#include <string>

#include "harness.h"
#include "kr_common.h"

namespace {

struct RouteCase {
    const char *path;
    int32_t     kind;
    std::string uid;
    std::string doc;
};

TEST(RouteTest, PathsGiveKindAndNames)
{
    const std::string s200(200, 'a');
    const std::string s127(127, 'a');
    const RouteCase cases[] = {
        {NULL, KR_ROUTE_ROOT, "", ""},
        {"", KR_ROUTE_ROOT, "", ""},
        {"/", KR_ROUTE_ROOT, "", ""},
        {"////", KR_ROUTE_ROOT, "", ""},
        {"/?x=1", KR_ROUTE_ROOT, "", ""},
        {"/index", KR_ROUTE_ROOT, "", ""},
        {"/index.html", KR_ROUTE_NONE, "", ""},
        {"/Index", KR_ROUTE_NONE, "", ""},
        {"/status", KR_ROUTE_STATUS, "", ""},
        {"/status/anything/else", KR_ROUTE_STATUS, "", ""},
        {"/indexes", KR_ROUTE_INDEXES, "", ""},
        {"/indexes/", KR_ROUTE_INDEXES, "", ""},
        {"//indexes//movies//", KR_ROUTE_INDEX, "movies", ""},
        {"/indexes/movies/search", KR_ROUTE_SEARCH, "movies", ""},
        {"/indexes/movies/search?q=x", KR_ROUTE_SEARCH, "movies", ""},
        {"/indexes/movies/stats", KR_ROUTE_STATS, "movies", ""},
        {"/indexes/movies/documents", KR_ROUTE_DOCUMENTS, "movies", ""},
        {"/indexes/movies/documents/", KR_ROUTE_DOCUMENTS, "movies", ""},
        {"/indexes/movies/documents/42", KR_ROUTE_DOCUMENT, "movies", "42"},
        {"/indexes/movies/documents/42/extra", KR_ROUTE_DOCUMENT, "movies", "42"},
        {"/indexes/movies/settings", KR_ROUTE_NONE, "movies", ""},
        {"/indexes/movies/Search", KR_ROUTE_NONE, "movies", ""},
        {"/indexes/a%20b/search", KR_ROUTE_SEARCH, "a%20b", ""},
        {"/indexes/a?b/documents/7", KR_ROUTE_INDEX, "a", ""},
        {"/other/movies", KR_ROUTE_NONE, "", ""},
    };
    for (const RouteCase &c : cases) {
        Route r;
        memset(&r, 0x55, sizeof r);
        kr_parse_route(c.path, &r);
        const char *shown = c.path ? c.path : "NULL";
        EXPECT_EQ(r.kind, c.kind) << "path " << shown;
        EXPECT_EQ(r.index_uid, c.uid) << "path " << shown;
        EXPECT_EQ(r.document_id, c.doc) << "path " << shown;
    }
    Route r;
    kr_parse_route(("/indexes/" + s200 + "/documents/" + s200).c_str(), &r);
    EXPECT_EQ(r.kind, KR_ROUTE_DOCUMENT);
    EXPECT_EQ(r.index_uid, s127) << "a 200-byte segment is cut to 127 bytes";
    EXPECT_EQ(r.document_id, s127);
    kr_parse_route("/indexes/movies", NULL); /* must not crash */
}

TEST(RouteTest, LongPathIsCutAt511BytesBeforeSplitting)
{
    /* 486 slashes push the document segment just past the working copy. */
    std::string path = std::string(486, '/') + "indexes/movies/documents/abc";
    Route r;
    kr_parse_route(path.c_str(), &r);
    EXPECT_EQ(r.kind, KR_ROUTE_DOCUMENTS);
    EXPECT_EQ(r.index_uid, std::string("movies"));
}

TEST(RouteTest, PathSegmentMeasuresTheWholeText)
{
    struct Case {
        const char *path;
        int32_t     n;
        int32_t     len;
        const char *starts;
    };
    const Case cases[] = {
        {"/indexes/movies/documents/7", 0, 7, "indexes/movies/documents/7"},
        {"/indexes/movies/documents/7", 1, 6, "movies/documents/7"},
        {"/indexes/movies/documents/7", 3, 1, "7"},
        {"/indexes/movies/documents/7", 4, -1, NULL},
        {"//a//b?c//", 1, 3, "b?c//"},
        {"", 0, -1, NULL},
        {"///", 0, -1, NULL},
        {NULL, 0, -1, NULL},
        {"/a", -1, -1, NULL},
    };
    for (const Case &c : cases) {
        const char *start = "unset";
        EXPECT_EQ(kr_path_segment(c.path, c.n, &start), c.len) << (c.path ? c.path : "NULL") << " #" << c.n;
        if (c.starts == NULL)
            EXPECT_EQ(start, nullptr) << (c.path ? c.path : "NULL") << " #" << c.n;
        else
            EXPECT_STREQ(start, c.starts) << c.path << " #" << c.n;
    }
    std::string long_seg = "/indexes/" + std::string(600, 'x') + "/search";
    EXPECT_EQ(kr_path_segment(long_seg.c_str(), 1, NULL), 600);
    EXPECT_EQ(kr_path_segment(long_seg.c_str(), 2, NULL), 6);
}

using QueryLengthTest = HandlerTest;

TEST_F(QueryLengthTest, CountsDecodedBytesWithoutCap)
{
    struct Case {
        const char *qs;
        const char *name;
        size_t      len;
    };
    const std::string big = "id=" + std::string(600, 'z');
    const std::string big_escaped = "id=" + std::string(300, '%') + "41";
    const Case cases[] = {
        {"a=1&b=22", "b", 2},
        {"a=1&b=22", "c", 0},
        {"q=hello+world%21", "q", 12},
        {"q=%zz", "q", 3},
        {"q=%4", "q", 2},
        {"q=%%41", "q", 2},
        {"q=a%00b", "q", 3},
        {"q=%00", "q", 1},
        {"flag", "flag", 0},
        {"flag=", "flag", 0},
        {"a=1&&q=2", "q", 1},
        {"a=1&", "q", 0},
        {"Q=1", "q", 0},
        {"q=1&q=22", "q", 1},
        {big.c_str(), "id", 600},
        {big_escaped.c_str(), "id", 300},
        {"a=1", "", 0},
    };
    for (const Case &c : cases) {
        setenv("QUERY_STRING", c.qs, 1);
        EXPECT_EQ(kr_query_length(c.name), c.len) << "query " << c.qs << ", name " << c.name;
    }
    unsetenv("QUERY_STRING");
    setenv("index", "movies", 1);
    EXPECT_EQ(kr_query_length("index"), 6u) << "environment fallback without a query string";
    setenv("index", "a;b:c", 1);
    EXPECT_EQ(kr_query_length("index"), 0u);
}

} // namespace
