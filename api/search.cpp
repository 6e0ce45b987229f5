/*
 * The search resource: one korrin_search call with a query text, a limit and
 * an offset gathered from a JSON body (POST only) and the query string.
 *
 * The body wins for the query text, the query string for limit and offset.
 * A body that is missing, empty, not JSON or not an object is no error: it
 * simply contributes nothing.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <yyjson.h>

#include "korrin.h"
#include "kr_common.h"
#include "kr_internal.h"
#include "qv_cgi.h"

/* The low 32 bits of a JSON integer, read as signed. */
static int32_t kr_low32(yyjson_val *val)
{
    uint64_t raw = yyjson_is_sint(val) ? (uint64_t)yyjson_get_sint(val) : yyjson_get_uint(val);
    return (int32_t)(uint32_t)raw;
}

int32_t kr_atoi32(const char *text)
{
    long value = strtol(text, NULL, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return (int32_t)value;
}

static void kr_search_body(char *query, size_t query_size, int32_t *limit, int32_t *offset)
{
    size_t length = 0;
    char *body = cgi_read_post(&length);
    if (body == NULL)
        return;
    yyjson_doc *doc = length != 0 ? yyjson_read(body, length, 0) : NULL;
    yyjson_val *root = yyjson_doc_get_root(doc);
    if (yyjson_is_obj(root) && yyjson_obj_size(root) > 0) {
        yyjson_val *q = yyjson_obj_get(root, "q");
        if (q == NULL)
            q = yyjson_obj_get(root, "query");
        if (yyjson_is_str(q))
            qv_strlcpy(query, yyjson_get_str(q), query_size);
        yyjson_val *val = yyjson_obj_get(root, "limit");
        if (yyjson_is_int(val))
            *limit = kr_low32(val);
        val = yyjson_obj_get(root, "offset");
        if (yyjson_is_int(val))
            *offset = kr_low32(val);
    }
    yyjson_doc_free(doc);
    free(body);
}

int kr_execute_search(const char *index_uid)
{
    if (kr_absent(index_uid)) {
        kr_respond_error(400, "missing_index_name", "Index name is required");
        return 0;
    }
    char query[512];
    memset(query, 0, sizeof query);
    int32_t limit = 20;
    int32_t offset = 0;

    if (strcmp(cgi_method(), "POST") == 0)
        kr_search_body(query, sizeof query, &limit, &offset);

    if (query[0] == '\0') {
        const char *value = cgi_query("q");
        if (value[0] == '\0')
            value = cgi_query("query");
        if (value[0] != '\0')
            qv_strlcpy(query, value, sizeof query);
    }
    const char *value = cgi_query("limit");
    if (value[0] != '\0') {
        int32_t n = kr_atoi32(value);
        if (n >= 1)
            limit = n;
    }
    value = cgi_query("offset");
    if (value[0] != '\0') {
        int32_t n = kr_atoi32(value);
        if (n >= 0)
            offset = n;
    }

    const char *result = korrin_search(index_uid, query, limit, offset);
    if (result == NULL) {
        kr_respond_error(404, "index_not_found", kr_engine_message("Index not found"));
        return 0;
    }
    kr_respond_json(200, result);
    return 0;
}
