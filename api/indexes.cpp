/*
 * The indexes resource: list every index (GET without a uid), describe one
 * (GET with a uid), create one (POST), delete one (DELETE).
 *
 * The listing is built as a yyjson document; the other replies are fixed
 * texts with the names filled in. Every value filled in is JSON-escaped, and
 * those replies are sized to what they hold, so no name can break or forge
 * the reply. A name or primary key too long for its 128-byte buffer is
 * refused rather than cut: a cut name would create another index than the
 * one requested.
 */
#include <stdlib.h>
#include <string.h>

#include <yyjson.h>

#include "korrin.h"
#include "kr_common.h"
#include "kr_internal.h"
#include "qv_cgi.h"

/* Reported when the engine's element carries no time of its own. */
#define KR_FALLBACK_TIME "2026-09-06T00:00:00Z"

enum { KR_NAME_SIZE = 128 };

/* The element's string member key (first of that key), or NULL. */
static const char *kr_member_str(yyjson_val *obj, const char *key)
{
    yyjson_val *val = yyjson_obj_get(obj, key);
    return yyjson_is_str(val) ? yyjson_get_str(val) : NULL;
}

static const char *kr_or(const char *text, const char *fallback)
{
    return text != NULL ? text : fallback;
}

static void kr_indexes_list(void)
{
    const char *list = korrin_indexes_list_json();
    yyjson_doc *src = yyjson_read(list, strlen(list), 0);
    yyjson_val *arr = yyjson_doc_get_root(src);

    yyjson_mut_doc *doc = yyjson_mut_doc_new(NULL);
    char *text = NULL;
    if (doc != NULL) {
        yyjson_mut_val *root = yyjson_mut_obj(doc);
        yyjson_mut_doc_set_root(doc, root);
        yyjson_mut_val *results = yyjson_mut_arr(doc);
        yyjson_mut_obj_add_val(doc, root, "results", results);
        int64_t total = 0;
        if (yyjson_is_arr(arr)) {
            total = (int64_t)yyjson_arr_size(arr);
            size_t idx, max;
            yyjson_val *el;
            yyjson_arr_foreach(arr, idx, max, el) {
                const char *name = NULL, *key = NULL, *created = NULL, *updated = NULL;
                if (yyjson_is_obj(el) && yyjson_obj_size(el) > 0) {
                    name = kr_member_str(el, "name");
                    key = kr_member_str(el, "primary_key");
                    created = kr_member_str(el, "created_at");
                    updated = kr_member_str(el, "updated_at");
                }
                yyjson_mut_val *entry = yyjson_mut_obj(doc);
                if (entry == NULL)
                    continue;
                yyjson_mut_obj_add_strcpy(doc, entry, "uid", kr_or(name, ""));
                yyjson_mut_obj_add_strcpy(doc, entry, "name", kr_or(name, ""));
                yyjson_mut_obj_add_strcpy(doc, entry, "primaryKey", kr_or(key, "id"));
                yyjson_mut_obj_add_strcpy(doc, entry, "primary_key", kr_or(key, "id"));
                /* Every entry carries both times, as the lookup of one index
                 * does, so a client reads the same shape either way. */
                yyjson_mut_obj_add_strcpy(doc, entry, "createdAt", kr_or(created, KR_FALLBACK_TIME));
                yyjson_mut_obj_add_strcpy(doc, entry, "updatedAt", kr_or(updated, KR_FALLBACK_TIME));
                yyjson_mut_arr_append(results, entry);
            }
        }
        yyjson_doc_free(src);
        src = NULL;
        yyjson_mut_obj_add_int(doc, root, "offset", 0);
        yyjson_mut_obj_add_int(doc, root, "limit", 20);
        yyjson_mut_obj_add_int(doc, root, "total", total);
        text = yyjson_mut_write_opts(doc, 0, NULL, NULL, NULL);
        yyjson_mut_doc_free(doc);
    }
    yyjson_doc_free(src);
    if (text != NULL) {
        kr_respond_json(200, text);
        free(text);
    } else {
        kr_respond_json(200, "{\"results\":[],\"total\":0}");
    }
}

static void kr_index_lookup(const char *index_uid)
{
    const char *list = korrin_indexes_list_json();
    yyjson_doc *src = yyjson_read(list, strlen(list), 0);
    yyjson_val *arr = yyjson_doc_get_root(src);
    yyjson_val *match = NULL;
    if (yyjson_is_arr(arr)) {
        size_t idx, max;
        yyjson_val *el;
        yyjson_arr_foreach(arr, idx, max, el) {
            if (!yyjson_is_obj(el))
                continue;
            yyjson_val *name = yyjson_obj_get(el, "name");
            if (yyjson_is_str(name) && strcmp(yyjson_get_str(name), index_uid) == 0
                && yyjson_get_len(name) == strlen(index_uid)) {
                match = el;
                break;
            }
        }
    }
    if (match == NULL) {
        yyjson_doc_free(src);
        kr_respond_error(404, "index_not_found", "Index not found");
        return;
    }
    /* The engine's texts are used in place (the document stays alive until
     * the reply is written), so a long primary key is reported whole. */
    const char *parts[] = {
        "{\"uid\":\"", index_uid,
        "\",\"name\":\"", index_uid,
        "\",\"primaryKey\":\"", kr_or(kr_member_str(match, "primary_key"), "id"),
        "\",\"createdAt\":\"", kr_or(kr_member_str(match, "created_at"), KR_FALLBACK_TIME),
        "\",\"updatedAt\":\"", kr_or(kr_member_str(match, "updated_at"), KR_FALLBACK_TIME),
        "\"}",
    };
    kr_respond_filled(200, parts, sizeof parts / sizeof parts[0]);
    yyjson_doc_free(src);
}

/* Copies a name-like value into a 128-byte buffer, or writes the refusal
 * and returns -1 when it would be cut (too long, or a NUL inside). */
static int kr_take_name(char *dst, const char *value, size_t full_len, const char *code,
                        const char *what)
{
    char message[96];
    if (full_len >= KR_NAME_SIZE) {
        qv_snprintf(message, sizeof message, "%s is too long: at most %d bytes.", what,
                    KR_NAME_SIZE - 1);
        kr_respond_error(400, code, message);
        return -1;
    }
    if (strlen(value) != full_len) {
        qv_snprintf(message, sizeof message, "%s must not contain a NUL byte.", what);
        kr_respond_error(400, code, message);
        return -1;
    }
    qv_strlcpy(dst, value, KR_NAME_SIZE);
    return 0;
}

/* Reads name and primary key from the request body. Returns -1 after
 * writing a refusal. */
static int kr_create_body(char *name, char *primary_key)
{
    size_t length = 0;
    char *body = cgi_read_post(&length);
    int rc = 0;
    yyjson_doc *doc = (body != NULL && length != 0) ? yyjson_read(body, length, 0) : NULL;
    yyjson_val *root = yyjson_doc_get_root(doc);
    if (yyjson_is_obj(root) && yyjson_obj_size(root) > 0) {
        yyjson_val *val = yyjson_obj_get(root, "uid");
        if (val == NULL)
            val = yyjson_obj_get(root, "name");
        if (yyjson_is_str(val))
            rc = kr_take_name(name, yyjson_get_str(val), yyjson_get_len(val),
                              "invalid_index_uid", "Index uid");
        val = yyjson_obj_get(root, "primaryKey");
        if (val == NULL)
            val = yyjson_obj_get(root, "primary_key");
        if (rc == 0 && yyjson_is_str(val))
            rc = kr_take_name(primary_key, yyjson_get_str(val), yyjson_get_len(val),
                              "invalid_index_primary_key", "Primary key");
    }
    yyjson_doc_free(doc);
    free(body);
    return rc;
}

static void kr_index_create(const char *index_uid)
{
    char primary_key[KR_NAME_SIZE];
    char name[KR_NAME_SIZE];
    memset(primary_key, 0, sizeof primary_key);
    memset(name, 0, sizeof name);
    qv_strlcpy(primary_key, "id", sizeof primary_key);

    if (kr_create_body(name, primary_key) != 0)
        return;
    if (name[0] == '\0' && !kr_absent(index_uid)
        && kr_take_name(name, index_uid, strlen(index_uid), "invalid_index_uid", "Index uid") != 0)
        return;
    if (name[0] == '\0') {
        const char *param = "name";
        const char *value = cgi_query(param);
        if (value[0] == '\0' && kr_query_length(param) == 0) {
            param = "uid";
            value = cgi_query(param);
        }
        size_t full = kr_query_length(param);
        if (full != 0 && kr_take_name(name, value, full, "invalid_index_uid", "Index uid") != 0)
            return;
    }
    if (name[0] == '\0') {
        kr_respond_error(400, "missing_index_uid", "Index uid/name is required");
        return;
    }
    if (korrin_index_create(name, primary_key) != 0) {
        kr_respond_error(400, "index_already_exists", kr_engine_message("Index creation failed"));
        return;
    }
    const char *parts[] = {
        "{\"uid\":\"", name,
        "\",\"name\":\"", name,
        "\",\"primaryKey\":\"", primary_key,
        "\",\"status\":\"succeeded\"}",
    };
    kr_respond_filled(201, parts, sizeof parts / sizeof parts[0]);
}

static void kr_index_delete(const char *index_uid)
{
    if (kr_absent(index_uid)) {
        kr_respond_error(400, "missing_index_uid", "Index uid/name is required");
        return;
    }
    if (korrin_index_delete(index_uid) != 0) {
        kr_respond_error(404, "index_not_found", kr_engine_message("Index not found"));
        return;
    }
    kr_respond_json(200, "{\"status\":\"succeeded\",\"taskUid\":1,\"type\":\"indexDeletion\"}");
}

void kr_execute_indexes(const char *index_uid)
{
    const char *method = cgi_method();
    if (strcmp(method, "GET") == 0) {
        if (kr_absent(index_uid))
            kr_indexes_list();
        else
            kr_index_lookup(index_uid);
    } else if (strcmp(method, "POST") == 0) {
        kr_index_create(index_uid);
    } else if (strcmp(method, "DELETE") == 0) {
        kr_index_delete(index_uid);
    } else {
        kr_respond_error(405, "method_not_allowed", "Method not allowed");
    }
}
