/*
 * The statistics resource: the engine's statistics text wrapped in the reply
 * shape of the search API, the document count repeated under two names.
 *
 * The engine's text goes into the reply byte for byte, so the reply is sized
 * to hold it whole: a cut reply would no longer be JSON.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <yyjson.h>

#include "korrin.h"
#include "kr_common.h"
#include "kr_internal.h"
#include "qv_cgi.h"

#define KR_STATS_FORMAT                                                            \
    "{\"numberOfDocuments\":%u,\"document_count\":%u,\"isIndexing\":false,"        \
    "\"fieldDistribution\":{},\"stats\":%s}"

int kr_execute_stats(const char *index_uid)
{
    if (kr_absent(index_uid)) {
        kr_respond_error(400, "missing_index_name", "Index name is required");
        return 0;
    }
    const char *text = korrin_index_stats_json(index_uid);
    if (text == NULL || strcmp(text, "null") == 0) {
        kr_respond_error(404, "index_not_found", "Index not found");
        return 0;
    }
    size_t text_len = strlen(text);
    yyjson_doc *doc = yyjson_read(text, text_len, 0);
    if (doc == NULL) {
        kr_respond_json(200, text);
        return 0;
    }
    uint32_t count = 0;
    yyjson_val *root = yyjson_doc_get_root(doc);
    yyjson_val *val = yyjson_is_obj(root) ? yyjson_obj_get(root, "document_count") : NULL;
    if (yyjson_is_int(val)) {
        uint64_t raw = yyjson_is_sint(val) ? (uint64_t)yyjson_get_sint(val) : yyjson_get_uint(val);
        count = (uint32_t)raw;
    }
    yyjson_doc_free(doc);

    /* Fixed part, two counts of at most 10 digits each, the text, the NUL. */
    size_t size = sizeof KR_STATS_FORMAT + 20 + text_len + 1;
    char *body = (char *)malloc(size);
    if (body == NULL) {
        kr_respond_error(500, "internal_error", "Out of memory.");
        return 0;
    }
    qv_snprintf(body, size, KR_STATS_FORMAT, count, count, text);
    kr_respond_json(200, body);
    free(body);
    return 0;
}
