#include <string>

#include "endpoint.h"
#include "harness.h"
#include "kr_common.h"
#include "kr_internal.h"

namespace {

const std::string kMissing = error_reply(401, "missing_authorization_header",
                                         "The Authorization header is missing: this server requires "
                                         "Authorization: Bearer <key>.");
const std::string kInvalid = error_reply(403, "invalid_api_key", "The provided API key is invalid.");

using AccessTest = HandlerTest;

TEST_F(AccessTest, BearerKeyWhenConfigured)
{
    struct Case {
        const char *key;
        const char *header;
        int         rc;
        std::string expected;
    };
    const Case cases[] = {
        {NULL, NULL, 0, ""},
        {"", "Bearer x", 0, ""},
        {NULL, "Bearer anything", 0, ""},
        {"s3cret", NULL, -1, kMissing},
        {"s3cret", "", -1, kMissing},
        {"s3cret", "Bearer s3cret", 0, ""},
        {"s3cret", "bearer s3cret", 0, ""},
        {"s3cret", "Bearer S3cret", -1, kInvalid},
        {"s3cret", "Bearer s3cre", -1, kInvalid},
        {"s3cret", "Bearer s3cretX", -1, kInvalid},
        {"s3cret", "Bearer s3cret ", -1, kInvalid},
        {"s3cret", "Bearer ", -1, kInvalid},
        {"s3cret", "Bearer", -1, kInvalid},
        {"s3cret", "s3cret", -1, kInvalid},
        {"s3cret", "Basic s3cret", -1, kInvalid},
        {"s3cret", "Bearer  s3cret", -1, kInvalid},
    };
    for (const Case &c : cases) {
        request({"GET"});
        if (c.key)
            setenv("KORRIN_MASTER_KEY", c.key, 1);
        if (c.header)
            setenv("HTTP_AUTHORIZATION", c.header, 1);
        int rc = 99;
        EXPECT_EQ(capture([&] { rc = kr_check_access(); }), c.expected)
            << "key " << (c.key ? c.key : "<unset>") << ", header " << (c.header ? c.header : "<unset>");
        EXPECT_EQ(rc, c.rc) << "key " << (c.key ? c.key : "<unset>") << ", header " << (c.header ? c.header : "<unset>");
    }
}

TEST_F(AccessTest, SharedStartChecksBeforeAnythingElse)
{
    setenv("KORRIN_STORAGE_DIR", dir_.c_str(), 1);
    struct Case {
        const char *label;
        Cgi         cgi;
        int         flags;
        const char *header;
        std::string expected;
        std::string trace;
    };
    const int docs = KR_START_ENGINE | KR_START_INDEX | KR_START_DOCUMENT;
    const Case cases[] = {
        {"documents without key", {"GET", "/indexes/movies/documents/1"}, docs, NULL, kMissing, ""},
        {"wrong key before the long-uid check", {"GET", "/indexes/" + std::string(300, 'u')}, docs, "Bearer no",
         kInvalid, ""},
        {"right key", {"GET", "/indexes/movies/documents/1"}, docs, "Bearer k", "", "korrin_init"},
        {"status GET is open", {"GET", "/status"}, KR_START_OPEN_GET, NULL, "", ""},
        {"status unset method is open", {{}, "/status"}, KR_START_OPEN_GET, NULL, "", ""},
        {"status HEAD is open", {"HEAD", "/status"}, KR_START_OPEN_GET, NULL, "", ""},
        {"status POST is not", {"POST", "/status"}, KR_START_OPEN_GET, NULL, kMissing, ""},
        {"not found needs the key", {"GET", "/elsewhere"}, 0, NULL, kMissing, ""},
    };
    for (const Case &c : cases) {
        request(c.cgi);
        setenv("KORRIN_MASTER_KEY", "k", 1);
        if (c.header)
            setenv("HTTP_AUTHORIZATION", c.header, 1);
        kr_storage_reset();
        fake_engine_reset();
        KrRequest req;
        int rc = 99;
        EXPECT_EQ(capture([&] { rc = kr_endpoint_start(&req, c.flags); }), c.expected) << c.label;
        EXPECT_EQ(rc, c.expected.empty() ? 0 : -1) << c.label;
        EXPECT_EQ(fake_engine_trace(), c.trace) << c.label;
        kr_endpoint_stop();
    }
    unsetenv("KORRIN_STORAGE_DIR");
    kr_storage_reset();
}

} // namespace
