#include <string.h>

#include "harness.h"
#include "kr_common.h"
#include "kr_internal.h"

using ReplyTest = HandlerTest;

TEST_F(ReplyTest, JsonReplyFramesTextOrWritesNoBody)
{
    EXPECT_EQ(capture([] { kr_respond_json(200, "{\"a\":1}"); }),
              "Status: 200\r\nContent-Type: application/json; charset=utf-8\r\n\r\n{\"a\":1}\n");
    EXPECT_EQ(capture([] { kr_respond_json(200, NULL); }),
              "Status: 200\r\nContent-Type: application/json; charset=utf-8\r\n\r\n");
    EXPECT_EQ(capture([] { kr_respond_json(201, ""); }),
              "Status: 201\r\nContent-Type: application/json; charset=utf-8\r\n\r\n\n");
}

TEST_F(ReplyTest, ErrorEnvelope)
{
    struct Case {
        int         status;
        const char *code;
        const char *message;
        std::string expected;
    };
    const std::string head404 = "Status: 404\r\nContent-Type: application/json; charset=utf-8\r\n\r\n";
    const Case cases[] = {
        {404, NULL, NULL,
         head404 + "{\"message\":\"Error\",\"code\":\"internal_error\",\"type\":\"invalid_request\","
                   "\"link\":\"https://docs.quorvane.dev/errors#internal_error\"}\n"},
        {400, "missing_payload", "Payload is required", error_reply(400, "missing_payload", "Payload is required")},
        {404, "c\"d", "a\"b\\c\nd\x01\x1f\xc3\xa9/",
         head404 + "{\"message\":\"a\\\"b\\\\c\\nd\\u0001\\u001f\xc3\xa9/\",\"code\":\"c\\\"d\","
                   "\"type\":\"invalid_request\",\"link\":\"https://docs.quorvane.dev/errors#c\\\"d\"}\n"},
        {500, "x", "\t\r\b\f", json_reply(500, "{\"message\":\"\\t\\r\\u0008\\u000c\",\"code\":\"x\","
                                                "\"type\":\"invalid_request\",\"link\":"
                                                "\"https://docs.quorvane.dev/errors#x\"}")},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(capture([&] { kr_respond_error(c.status, c.code, c.message); }), c.expected)
            << "code " << (c.code ? c.code : "NULL") << ", message " << (c.message ? c.message : "NULL");
    }
}

TEST_F(ReplyTest, FilledReplyEscapesOnlyTheValues)
{
    const char *parts[] = {"{\"a\":\"", "x\"y\\z\n\x02\xC3\xA9", "\",\"b\":\"", "", "\"}"};
    EXPECT_EQ(capture([&] { kr_respond_filled(201, parts, 5); }),
              "Status: 201\r\nContent-Type: application/json; charset=utf-8\r\n\r\n"
              "{\"a\":\"x\\\"y\\\\z\\n\\u0002\xC3\xA9\",\"b\":\"\"}\n");
}
