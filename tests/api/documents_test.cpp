#include <string>

#include "harness.h"
#include "kr_common.h"

namespace {

const char *const kAdded = "{\"status\":\"succeeded\",\"type\":\"documentAdditionOrUpdate\",\"taskUid\":1,\"added\":";
const char *const kDeleted = "{\"status\":\"succeeded\",\"taskUid\":1,\"type\":\"documentDeletion\"}";

struct DocCase {
    const char                *label;
    Cgi                        cgi;
    const char                *index_uid;
    const char                *document_id;
    std::function<void(FakeEngine &)> engine;
    std::string                expected;
    std::string                trace; /* engine calls made, in order */
};

using DocumentsTest = HandlerTest;

TEST_F(DocumentsTest, EveryRowOfTheReplyTable)
{
    auto none = [](FakeEngine &) {};
    const DocCase cases[] = {
        {"no index, PUT", {"PUT"}, NULL, "7", none,
         error_reply(400, "missing_index_name", "Index name is required"), ""},
        {"empty index, POST", {"POST", {}, {}, "[{}]"}, "", NULL, none,
         error_reply(400, "missing_index_name", "Index name is required"), ""},
        {"PUT", {"PUT"}, "movies", "7", none, error_reply(405, "method_not_allowed", "Method not allowed"), ""},
        {"lower-case post", {"post", {}, {}, "[{}]"}, "movies", NULL, none,
         error_reply(405, "method_not_allowed", "Method not allowed"), ""},
        {"POST without body", {"POST"}, "movies", NULL, none,
         error_reply(400, "missing_payload", "Payload is required"), ""},
        {"POST with empty body file", {"POST", {}, {}, ""}, "movies", NULL, none,
         error_reply(400, "missing_payload", "Payload is required"), ""},
        {"POST refused, engine message", {"POST", {}, {}, "[x]"}, "movies", NULL,
         [](FakeEngine &e) { e.add_result = -1; e.last_error = "Document 1 is not an object."; },
         error_reply(400, "document_addition_failed", "Document 1 is not an object."), "korrin_documents_add"},
        {"POST refused, empty message", {"POST", {}, {}, "[x]"}, "movies", NULL,
         [](FakeEngine &e) { e.add_result = -7; e.last_error = ""; },
         error_reply(400, "document_addition_failed", "Failed to add documents"), "korrin_documents_add"},
        {"POST refused, no message", {"POST", {}, {}, "[x]"}, "movies", NULL,
         [](FakeEngine &e) { e.add_result = -1; },
         error_reply(400, "document_addition_failed", "Failed to add documents"), "korrin_documents_add"},
        {"POST adds 0", {"POST", {}, {}, "[]"}, "movies", "9", [](FakeEngine &e) { e.add_result = 0; },
         json_reply(200, std::string(kAdded) + "0}"), "korrin_documents_add"},
        {"POST adds many", {"POST", {}, {}, "[{}]"}, "movies", NULL,
         [](FakeEngine &e) { e.add_result = 2147483647; },
         json_reply(200, std::string(kAdded) + "2147483647}"), "korrin_documents_add"},
        {"GET one", {"GET"}, "movies", "7", [](FakeEngine &e) { e.document = "{\"id\":7, \"t\":\"x\"}"; },
         json_reply(200, "{\"id\":7, \"t\":\"x\"}"), "korrin_document_get"},
        {"GET one, unset method", {}, "movies", "7", [](FakeEngine &e) { e.document = "{}"; },
         json_reply(200, "{}"), "korrin_document_get"},
        {"GET one missing, engine message ignored", {"GET"}, "movies", "7",
         [](FakeEngine &e) { e.last_error = "Document `7` not found."; },
         error_reply(404, "document_not_found", "Document not found"), "korrin_document_get"},
        {"list hits beside other members", {"GET"}, "movies", "",
         [](FakeEngine &e) { e.search_result = "{\"query\":\"\",\"hits\":[{\"id\":1}],\"limit\":20}"; },
         json_reply(200, "[{\"id\":1}]"), "korrin_search"},
        {"list indented", {"GET"}, "movies", NULL,
         [](FakeEngine &e) { e.search_result = "{\n  \"hits\" : [ { \"id\" : 1 } , 2 ]\n}\n"; },
         json_reply(200, "[{\"id\":1},2]"), "korrin_search"},
        {"list keeps number texts", {"GET"}, "movies", NULL,
         [](FakeEngine &e) {
             e.search_result = "{\"hits\":[{\"p\":8.50,\"big\":123456789012345678901234567890,"
                               "\"tiny\":1e-400,\"n\":-0}]}";
         },
         json_reply(200, "[{\"p\":8.50,\"big\":123456789012345678901234567890,\"tiny\":1e-400,\"n\":-0}]"),
         "korrin_search"},
        {"list invalid number", {"GET"}, "movies", NULL,
         [](FakeEngine &e) { e.search_result = "{\"hits\":[01]}"; }, json_reply(200, "[]"), "korrin_search"},
        {"list Hits", {"GET"}, "movies", NULL, [](FakeEngine &e) { e.search_result = "{\"Hits\":[1]}"; },
         json_reply(200, "[]"), "korrin_search"},
        {"list top-level array", {"GET"}, "movies", NULL, [](FakeEngine &e) { e.search_result = "[1]"; },
         json_reply(200, "[]"), "korrin_search"},
        {"list empty object", {"GET"}, "movies", NULL, [](FakeEngine &e) { e.search_result = "{}"; },
         json_reply(200, "[]"), "korrin_search"},
        {"list hits null", {"GET"}, "movies", NULL, [](FakeEngine &e) { e.search_result = "{\"hits\":null}"; },
         json_reply(200, "null"), "korrin_search"},
        {"list two hits", {"GET"}, "movies", NULL,
         [](FakeEngine &e) { e.search_result = "{\"hits\":[1],\"hits\":[2]}"; },
         json_reply(200, "[1]"), "korrin_search"},
        {"list trailing text", {"GET"}, "movies", NULL,
         [](FakeEngine &e) { e.search_result = "{\"hits\":[1]} x"; }, json_reply(200, "[]"), "korrin_search"},
        {"list empty text", {"GET"}, "movies", NULL, [](FakeEngine &e) { e.search_result = ""; },
         json_reply(200, "[]"), "korrin_search"},
        {"list null", {"GET"}, "movies", NULL, [](FakeEngine &e) { e.search_result = std::nullopt; },
         json_reply(200, "[]"), "korrin_search"},
        {"DELETE without id", {"DELETE"}, "movies", "", none,
         error_reply(400, "missing_document_id", "Document ID is required for deletion"), ""},
        {"DELETE ok", {"DELETE"}, "movies", "7", none, json_reply(200, kDeleted), "korrin_document_delete"},
        {"DELETE returns 1", {"DELETE"}, "movies", "7", [](FakeEngine &e) { e.delete_result = 1; },
         error_reply(404, "document_not_found", "Document not found"), "korrin_document_delete"},
        {"DELETE returns -1 with message", {"DELETE"}, "movies", "7",
         [](FakeEngine &e) { e.delete_result = -1; e.last_error = "Index `movies` not found."; },
         error_reply(404, "document_not_found", "Index `movies` not found."), "korrin_document_delete"},
    };
    for (const DocCase &c : cases) {
        fake_engine_reset();
        request(c.cgi);
        c.engine(fake_engine());
        EXPECT_EQ(capture([&] { kr_execute_documents(c.index_uid, c.document_id); }), c.expected) << c.label;
        EXPECT_EQ(fake_engine_trace(), c.trace) << c.label;
    }
}

TEST_F(DocumentsTest, EngineReceivesArgumentsUnchanged)
{
    request({"POST", {}, {}, "[{\"id\":1}]\n"});
    fake_engine().add_result = 1;
    capture([] { kr_execute_documents("movies", "ignored"); });
    auto calls = fake_engine_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args, (std::vector<std::string>{"movies", "[{\"id\":1}]\n"}));

    fake_engine_reset();
    request({"GET", {}, "limit=5&offset=3&q=x"});
    capture([] { kr_execute_documents("movies", NULL); });
    calls = fake_engine_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args, (std::vector<std::string>{"movies", "", "20", "0"}))
        << "the listing takes no parameters from the request";

    fake_engine_reset();
    request({"DELETE"});
    capture([] { kr_execute_documents("a b", "x/y"); });
    calls = fake_engine_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args, (std::vector<std::string>{"a b", "x/y"}));
}

TEST_F(DocumentsTest, BodyWithNulByteIsRefusedBeforeTheEngine)
{
    request({"POST", {}, {}, std::string("[{\"id\":1}]\0[{\"id\":2}]", 21)});
    EXPECT_EQ(capture([] { kr_execute_documents("movies", NULL); }),
              error_reply(400, "document_addition_failed",
                          "Payload holds a NUL byte at offset 10: documents must be JSON text."));
    EXPECT_EQ(fake_engine_trace(), "");
}

} // namespace
