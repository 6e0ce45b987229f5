/*
 * The shared start of the API programs: choose the index uid and document id
 * from the path and the query string, refuse any that was cut on the way in,
 * then start the engine.
 *
 * Route parsing cuts path segments at 127 bytes (and the path at 511 bytes
 * and at a '?', which reaches PATH_INFO as a decoded %3F), and cgi_query cuts
 * values at 511 bytes and at a decoded NUL. Acting on a cut name would add
 * to, show or delete another index or document than the one requested, so
 * each value is measured whole and refused when it does not match what was
 * read. The checks come before the engine start: a refused request costs no
 * store opening. The key check (when a key is configured) comes first of
 * all, so a caller without the key learns nothing about names or the store.
 *
 * The web server resolves "." and ".." path segments (%2E too) before it
 * routes, as URL rules allow: DELETE /indexes/a/documents/.. reaches the
 * program as DELETE /indexes/a. A client that pastes an id into a path
 * unchecked never means that, so the request as it was sent (REQUEST_URI)
 * is looked at, and one whose path held such a segment is refused. So is
 * one whose path held a control character, raw or %-encoded: lighttpd
 * turns each into '_', and DELETE /indexes/a%01 would delete index "a_".
 */
#include <string.h>

#include "endpoint.h"
#include "kr_common.h"
#include "qv_cgi.h"

static void kr_refuse(const char *code, const char *message)
{
    kr_respond_error(400, code, message);
}

/* Compares the Route's value with the raw path segment it came from. */
static int kr_check_segment(const char *raw, int32_t raw_len, const char *parsed,
                            const char *code, const char *what)
{
    char message[256];
    if (raw_len > 127) {
        qv_snprintf(message, sizeof message, "%s is too long: at most 127 bytes in the path.",
                    what);
        kr_refuse(code, message);
        return -1;
    }
    if ((size_t)raw_len != strlen(parsed) || memcmp(raw, parsed, (size_t)raw_len) != 0) {
        qv_snprintf(message, sizeof message, "%s `%.*s` in the path is not valid.", what,
                    (int)raw_len, raw);
        kr_refuse(code, message);
        return -1;
    }
    return 0;
}

static int kr_check_path(const char *path, const Route *route, int flags)
{
    const char *seg;
    int32_t len = kr_path_segment(path, 0, &seg);
    if (len != 7 || memcmp(seg, "indexes", 7) != 0)
        return 0;
    len = kr_path_segment(path, 1, &seg);
    if (len > 0 && (flags & (KR_START_INDEX | KR_START_DOCUMENT))
        && kr_check_segment(seg, len, route->index_uid, "invalid_index_uid", "Index uid") != 0)
        return -1;
    if (!(flags & KR_START_DOCUMENT))
        return 0;
    len = kr_path_segment(path, 2, &seg);
    if (len != 9 || memcmp(seg, "documents", 9) != 0)
        return 0;
    len = kr_path_segment(path, 3, &seg);
    if (len > 0
        && kr_check_segment(seg, len, route->document_id, "invalid_document_id", "Document id") != 0)
        return -1;
    return 0;
}

/* Copies query parameter name into dst when it fits whole (limit bytes at
 * most, no NUL inside); otherwise writes the refusal and returns -1. */
static int kr_take_query(char *dst, size_t size, const char *name, size_t limit,
                         const char *code, const char *what)
{
    const char *value = cgi_query(name);
    size_t full = kr_query_length(name);
    char message[128];
    if (full > limit) {
        qv_snprintf(message, sizeof message, "%s is too long: at most %zu bytes.", what, limit);
        kr_refuse(code, message);
        return -1;
    }
    if (strlen(value) != full) {
        qv_snprintf(message, sizeof message, "%s must not contain a NUL byte.", what);
        kr_refuse(code, message);
        return -1;
    }
    qv_strlcpy(dst, value, size);
    return 0;
}

static int kr_choose_index(KrRequest *req)
{
    if (req->route.index_uid[0] != '\0') {
        qv_strlcpy(req->index_uid, req->route.index_uid, sizeof req->index_uid);
        return 0;
    }
    /* An empty value counts as absent, except for the last candidate; a
     * value that decodes to a NUL first is not empty and is refused. */
    static const char *const names[] = {"index", "name", "uid"};
    for (const char *name : names) {
        if (kr_query_length(name) != 0 || strcmp(name, "uid") == 0)
            return kr_take_query(req->index_uid, sizeof req->index_uid, name, 127,
                                 "invalid_index_uid", "Index uid");
    }
    return 0;
}

static int kr_choose_document(KrRequest *req)
{
    if (req->route.document_id[0] != '\0') {
        qv_strlcpy(req->document_id, req->route.document_id, sizeof req->document_id);
        return 0;
    }
    return kr_take_query(req->document_id, sizeof req->document_id, "id",
                         sizeof req->document_id - 1, "invalid_document_id", "Document id");
}

int kr_endpoint_start(KrRequest *req, int flags)
{
    memset(req, 0, sizeof *req);
    const char *method = cgi_method();
    int open_request = (flags & KR_START_OPEN_GET)
                       && (strcmp(method, "GET") == 0 || strcmp(method, "HEAD") == 0);
    if (!open_request && kr_check_access() != 0)
        return -1;
    if (const char *refusal = kr_target_refusal(cgi_env("REQUEST_URI", ""))) {
        kr_refuse("bad_request", refusal);
        return -1;
    }
    const char *path = cgi_path_info();
    kr_parse_route(path, &req->route);
    if (kr_check_path(path, &req->route, flags) != 0)
        return -1;
    if ((flags & KR_START_INDEX) && kr_choose_index(req) != 0)
        return -1;
    if ((flags & KR_START_DOCUMENT) && kr_choose_document(req) != 0)
        return -1;
    if (flags & KR_START_ENGINE) {
        if (kr_init_engine() != 0) {
            kr_respond_error(500, "engine_init_failed", "Failed to initialize korrin engine");
            return -1;
        }
    }
    return 0;
}

void kr_endpoint_stop(void)
{
    kr_cleanup_engine();  /* does nothing when the engine was not started */
}
