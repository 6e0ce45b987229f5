#include <string>

#include "endpoint.h"
#include "harness.h"
#include "kr_common.h"
#include "kr_internal.h"

namespace {

const int kDocs = KR_START_ENGINE | KR_START_INDEX | KR_START_DOCUMENT;

class EndpointTest : public HandlerTest {
protected:
    void SetUp() override
    {
        HandlerTest::SetUp();
        setenv("KORRIN_STORAGE_DIR", dir_.c_str(), 1);
        kr_storage_reset();
    }
    void TearDown() override
    {
        unsetenv("KORRIN_STORAGE_DIR");
        kr_storage_reset();
        HandlerTest::TearDown();
    }
    /* Runs the start; returns its result, and the reply it wrote in *out. */
    int start(const Cgi &cgi, int flags, KrRequest *req, std::string *out)
    {
        request(cgi);
        kr_storage_reset();
        fake_engine_reset();
        int rc = -2;
        *out = capture([&] { rc = kr_endpoint_start(req, flags); });
        return rc;
    }
};

TEST_F(EndpointTest, ChoosesIndexAndDocument)
{
    struct Case {
        const char *label;
        Cgi         cgi;
        const char *env_index;
        std::string uid;
        std::string doc;
    };
    const std::string doc300(300, 'd');
    const Case cases[] = {
        {"path only", {"GET", "/indexes/movies/documents/7"}, NULL, "movies", "7"},
        {"query only", {"GET", {}, "index=movies&id=7"}, NULL, "movies", "7"},
        {"path index, query id", {"GET", "/indexes/movies/documents", "id=7"}, NULL, "movies", "7"},
        {"path wins over query", {"GET", "/indexes/movies/documents/7", "index=books&id=8"}, NULL, "movies", "7"},
        {"empty index counts as absent", {"GET", {}, "index=&name=books"}, NULL, "books", ""},
        {"uid last", {"GET", {}, "uid=films"}, NULL, "films", ""},
        {"name before uid", {"GET", {}, "uid=a&name=b"}, NULL, "b", ""},
        {"environment fallback", {"GET"}, "movies", "movies", ""},
        {"search path", {"POST", "/indexes/movies/search"}, NULL, "movies", ""},
        {"no index at all", {"GET", "/indexes"}, NULL, "", ""},
        {"300-byte id from the query", {"GET", "/indexes/m/documents", "id=" + doc300}, NULL, "m", doc300},
        {"127-byte path uid", {"GET", "/indexes/" + std::string(127, 'u') + "/documents"}, NULL, std::string(127, 'u'), ""},
    };
    for (const Case &c : cases) {
        KrRequest req;
        std::string out;
        if (c.env_index)
            setenv("index", c.env_index, 1);
        request(c.cgi);
        if (c.env_index)
            setenv("index", c.env_index, 1);
        kr_storage_reset();
        fake_engine_reset();
        int rc = -2;
        out = capture([&] { rc = kr_endpoint_start(&req, kDocs); });
        EXPECT_EQ(rc, 0) << c.label;
        EXPECT_EQ(out, "") << c.label;
        EXPECT_EQ(req.index_uid, c.uid) << c.label;
        EXPECT_EQ(req.document_id, c.doc) << c.label;
        EXPECT_EQ(fake_engine_trace(), "korrin_init") << c.label;
        kr_endpoint_stop();
        EXPECT_EQ(fake_engine_trace(), "korrin_init korrin_cleanup") << c.label;
    }
}

TEST_F(EndpointTest, RefusesCutNamesBeforeTheEngine)
{
    const std::string s200(200, 'x');
    const std::string uid_long = error_reply(400, "invalid_index_uid", "Index uid is too long: at most 127 bytes.");
    struct Case {
        const char *label;
        Cgi         cgi;
        int         flags;
        std::string expected;
    };
    const Case cases[] = {
        {"long path uid", {"POST", "/indexes/" + s200 + "/documents", {}, "[]"}, kDocs,
         error_reply(400, "invalid_index_uid", "Index uid is too long: at most 127 bytes in the path.")},
        {"long path uid, search", {"GET", "/indexes/" + s200 + "/search"}, KR_START_ENGINE | KR_START_INDEX,
         error_reply(400, "invalid_index_uid", "Index uid is too long: at most 127 bytes in the path.")},
        {"long path document", {"DELETE", "/indexes/movies/documents/" + s200}, kDocs,
         error_reply(400, "invalid_document_id", "Document id is too long: at most 127 bytes in the path.")},
        {"question mark in uid", {"POST", "/indexes/a?b/documents/7"}, kDocs,
         error_reply(400, "invalid_index_uid", "Index uid `a?b` in the path is not valid.")},
        {"question mark in document", {"DELETE", "/indexes/a/documents/x?y"}, kDocs,
         error_reply(400, "invalid_document_id", "Document id `x?y` in the path is not valid.")},
        {"document past the 511-byte copy", {"DELETE", std::string(490, '/') + "indexes/movies/documents/abc"}, kDocs,
         error_reply(400, "invalid_document_id", "Document id `abc` in the path is not valid.")},
        {"long query index", {"GET", {}, "index=" + s200}, kDocs, uid_long},
        {"long query uid", {"GET", {}, "uid=" + s200}, KR_START_ENGINE | KR_START_INDEX, uid_long},
        {"long query name", {"GET", {}, "index=&name=" + std::string(600, 'n')}, kDocs, uid_long},
        {"NUL index", {"GET", {}, "index=%00&name=books"}, kDocs,
         error_reply(400, "invalid_index_uid", "Index uid must not contain a NUL byte.")},
        {"long query id", {"DELETE", "/indexes/m/documents", "id=" + std::string(512, 'd')}, kDocs,
         error_reply(400, "invalid_document_id", "Document id is too long: at most 511 bytes.")},
        {"NUL id", {"DELETE", "/indexes/m/documents", "id=7%00x"}, kDocs,
         error_reply(400, "invalid_document_id", "Document id must not contain a NUL byte.")},
    };
    for (const Case &c : cases) {
        KrRequest req;
        std::string out;
        EXPECT_EQ(start(c.cgi, c.flags, &req, &out), -1) << c.label;
        EXPECT_EQ(out, c.expected) << c.label;
        EXPECT_EQ(fake_engine_trace(), "") << c.label;
        kr_endpoint_stop();
        EXPECT_EQ(fake_engine_trace(), "") << c.label;
    }
    /* The document checks belong to the documents program only. */
    KrRequest req;
    std::string out;
    EXPECT_EQ(start({"GET", "/indexes/m/documents/" + s200}, KR_START_ENGINE | KR_START_INDEX, &req, &out), 0);
    kr_endpoint_stop();
}

TEST_F(EndpointTest, RefusesPathsTheServerResolvedOrRewrote)
{
    /* The web server hands over PATH_INFO with dot segments resolved and
     * control characters turned into '_'; only the request as sent tells
     * what was named. */
    const std::string dots = error_reply(
        400, "bad_request", "The path must not hold a . or .. segment: resolved, it would name another resource.");
    const std::string control =
        error_reply(400, "bad_request", "The path must not hold a control character (%00 to %1F, or %7F).");
    struct Case {
        const char *label;
        const char *request_uri;
        std::string expected;
    };
    const Case cases[] = {
        {"two dots last", "/indexes/a/documents/..", dots},
        {"encoded dots", "/indexes/a/documents/%2E%2e", dots},
        {"one dot inside", "/indexes/a/./documents/7", dots},
        {"dots then more", "/indexes/a/documents/../../b", dots},
        {"dots before the query", "/indexes/a/documents/..?id=7", dots},
        {"encoded NUL", "/indexes/a%00/documents/7", control},
        {"encoded control", "/indexes/a%01", control},
        {"encoded DEL, lower case", "/indexes/a/documents/x%7f", control},
        {"raw control", "/indexes/a/documents/x\x01y", control},
        {"percent without hex", "/indexes/a/documents/x%zz", ""},
        {"control in the query", "/indexes/a/search?q=a%09b", ""},
        {"three dots are a name", "/indexes/a/documents/...", ""},
        {"dots inside a name", "/indexes/a/documents/a..b", ""},
        {"dots in the query", "/indexes/a/search?q=../.%2E", ""},
        {"NUL in the query", "/indexes/a/documents/7?x=%00", ""},
        {"runs of slashes", "//indexes//a/documents/7", ""},
    };
    for (const Case &c : cases) {
        KrRequest req;
        request({"DELETE", "/indexes/a/documents/7"});
        setenv("REQUEST_URI", c.request_uri, 1);
        kr_storage_reset();
        fake_engine_reset();
        int rc = -2;
        EXPECT_EQ(capture([&] { rc = kr_endpoint_start(&req, kDocs); }), c.expected) << c.label;
        EXPECT_EQ(rc, c.expected.empty() ? 0 : -1) << c.label;
        kr_endpoint_stop();
        EXPECT_EQ(fake_engine_trace(), c.expected.empty() ? "korrin_init korrin_cleanup" : "") << c.label;
    }
}

TEST_F(EndpointTest, EngineStartFailureAnswers500)
{
    KrRequest req;
    request({"GET", "/indexes/movies/documents/7"});
    kr_storage_reset();
    fake_engine_reset();
    fake_engine().init_result = 1;
    int rc = 0;
    EXPECT_EQ(capture([&] { rc = kr_endpoint_start(&req, kDocs); }),
              error_reply(500, "engine_init_failed", "Failed to initialize korrin engine"));
    EXPECT_EQ(rc, -1);
    kr_endpoint_stop();
    EXPECT_EQ(fake_engine_trace(), "korrin_init") << "no stop for an engine that never started";
}

TEST_F(EndpointTest, WithoutEngineFlagTheEngineIsUntouched)
{
    KrRequest req;
    std::string out;
    EXPECT_EQ(start({"GET", "/status"}, 0, &req, &out), 0);
    EXPECT_EQ(out, "");
    kr_endpoint_stop();
    EXPECT_EQ(fake_engine_trace(), "");
}

} // namespace
