// Fuzzes the search query parser: the input is the query, run against a
// small index holding accents, scripts without spaces, numbers and nested
// values. Every query on an existing index must give a well-formed reply:
// never NULL, never FTS syntax errors leaking out, never more hits than the
// limit.
#include <korrin.h>
#include <yyjson.h>

#include "fuzz_store.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char *const s_docs =
    "[{\"id\":1,\"title\":\"Crème brûlée\",\"tags\":[\"dessert\",\"French\"]},"
    "{\"id\":2,\"title\":\"東京物語\",\"overview\":\"家族の物語\"},"
    "{\"id\":\"a-3\",\"title\":\"Über straße AND OR NOT NEAR\",\"n\":12345678901234567890},"
    "{\"id\":4,\"title\":\"\\\"quoted\\\" * ^ ( ) : - +\",\"nested\":{\"deep\":[\"inner words\"]}},"
    "{\"id\":5,\"title\":\"ภาษาไทย สวัสดี\",\"overview\":\"Ελληνικά кириллица\"}]";

bool valid_utf8(const std::string &s)
{
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; k++)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

[[noreturn]] void fail(const std::string &query, const char *what, const char *detail)
{
    fprintf(stderr, "korrin_search(\"%s\"): %s (%s)\n", query.c_str(), what, detail ? detail : "null");
    abort();
}

void one(const std::string &query, int32_t limit, int32_t offset)
{
    const char *reply = korrin_search("fz", query.c_str(), limit, offset);
    if (reply == nullptr) {
        const char *msg = korrin_last_error();
        // A query the engine cannot take must at least be explained; for a
        // valid UTF-8 text there is no reason to refuse at all.
        if (valid_utf8(query) || msg == nullptr || msg[0] == '\0') fail(query, "no reply", msg);
        return;
    }
    yyjson_doc *doc = yyjson_read(reply, strlen(reply), YYJSON_READ_ALLOW_INVALID_UNICODE);
    if (doc == nullptr) fail(query, "reply is not JSON", reply);
    yyjson_val *root = yyjson_doc_get_root(doc);
    yyjson_val *hits = yyjson_obj_get(root, "hits");
    if (!yyjson_is_arr(hits)) fail(query, "reply without hits", reply);
    if (yyjson_arr_size(hits) > static_cast<size_t>(limit)) fail(query, "more hits than the limit", reply);
    if (!yyjson_is_int(yyjson_obj_get(root, "estimatedTotalHits"))) fail(query, "no estimatedTotalHits", reply);
    yyjson_doc_free(doc);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (korrin_init(fuzz_store_dir()) != 0 || korrin_documents_add("fz", s_docs) != 5) {
        fprintf(stderr, "cannot prepare the index: %s\n", korrin_last_error());
        abort();
    }
    korrin_cleanup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string query(reinterpret_cast<const char *>(data), size);
    query = query.substr(0, query.find('\0'));
    if (korrin_init(fuzz_store_dir()) != 0) fail(query, "korrin_init failed", korrin_last_error());
    one(query, 20, 0);
    one(query, 2, 1);
    korrin_cleanup();
    return 0;
}
