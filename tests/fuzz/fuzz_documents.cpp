// Fuzzes the documents body as the engine parses it: arrays, single objects
// and NDJSON with every kind of damage. Each input is one addition on a fresh
// index. Beyond the sanitizers: a refusal must carry a message and store
// nothing; an acceptance must store documents the engine can read back as
// JSON.
#include <korrin.h>
#include <yyjson.h>

#include "fuzz_store.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

[[noreturn]] void fail(const char *what, const char *detail)
{
    fprintf(stderr, "korrin_documents_add: %s (%s)\n", what, detail ? detail : "null");
    abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string body(reinterpret_cast<const char *>(data), size);
    body = body.substr(0, body.find('\0')); // the engine takes a C string

    if (korrin_init(fuzz_store_dir()) != 0) fail("korrin_init failed", korrin_last_error());
    int32_t added = korrin_documents_add("fz", body.c_str());
    if (added < 0) {
        const char *msg = korrin_last_error();
        if (msg == nullptr || msg[0] == '\0') fail("refused without a message", msg);
        // All or nothing: a refused batch leaves no index and no document.
        if (korrin_search("fz", "", 10, 0) != nullptr) fail("refused batch left an index behind", msg);
    } else if (added > 0) { // an empty batch need not create the index
        const char *list = korrin_search("fz", "", 1000, 0);
        if (list == nullptr) fail("accepted batch but no index", korrin_last_error());
        yyjson_doc *doc = yyjson_read(list, strlen(list), 0);
        if (doc == nullptr) fail("listing is not JSON", list);
        yyjson_val *hits = yyjson_obj_get(yyjson_doc_get_root(doc), "hits");
        if (!yyjson_is_arr(hits)) fail("listing without hits", list);
        // Replacements within a batch collapse: never more stored than sent.
        if (yyjson_arr_size(hits) > static_cast<size_t>(added)) fail("more documents than added", list);
        if (yyjson_arr_size(hits) == 0) fail("added documents missing", list);
        yyjson_doc_free(doc);
        if (korrin_index_delete("fz") != 0) fail("index delete failed", korrin_last_error());
    } else if (korrin_search("fz", "", 1, 0) != nullptr) {
        korrin_index_delete("fz");
    }
    korrin_cleanup();
    return 0;
}
