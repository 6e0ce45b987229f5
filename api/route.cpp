/*
 * Route parsing, and the measurements that let a program notice when the
 * parse (or the CGI library's query decoding) had to cut a value.
 *
 * kr_parse_route keeps its documented, lossy results: a 512-byte working copy
 * of the path, the path cut at its first '?', segments cut at 127 bytes. A
 * cut name would silently point at another index or document, so the
 * programs compare the Route with kr_path_segment and the query values with
 * kr_query_length, which measure the raw request without any of those cuts.
 */
#include <stdlib.h>
#include <string.h>

#include "kr_common.h"
#include "qv_cgi.h"

enum { KR_PATH_COPY = 512, KR_SEGMENT = 128, KR_SEGMENTS = 4 };

void kr_parse_route(const char *path, Route *route)
{
    if (route == NULL)
        return;
    memset(route, 0, sizeof *route);
    if (path == NULL || path[0] == '\0' || strcmp(path, "/") == 0) {
        route->kind = KR_ROUTE_ROOT;
        return;
    }

    char copy[KR_PATH_COPY];
    memset(copy, 0, sizeof copy);
    qv_strlcpy(copy, path, sizeof copy);
    char *question = strchr(copy, '?');
    if (question != NULL)
        *question = '\0';

    const char *p = copy;
    while (*p == '/')
        ++p;
    if (*p == '\0') {
        route->kind = KR_ROUTE_ROOT;
        return;
    }

    char seg[KR_SEGMENTS][KR_SEGMENT];
    memset(seg, 0, sizeof seg);
    for (int i = 0; i < KR_SEGMENTS && *p != '\0'; ++i) {
        const char *end = strchr(p, '/');
        size_t len = end != NULL ? (size_t)(end - p) : strlen(p);
        qv_strlcpy(seg[i], p, len + 1 < (size_t)KR_SEGMENT ? len + 1 : (size_t)KR_SEGMENT);
        p += len;
        while (*p == '/')
            ++p;
    }

    if (strcmp(seg[0], "status") == 0) {
        route->kind = KR_ROUTE_STATUS;
        return;
    }
    if (strcmp(seg[0], "indexes") == 0) {
        if (seg[1][0] == '\0') {
            route->kind = KR_ROUTE_INDEXES;
            return;
        }
        qv_strlcpy(route->index_uid, seg[1], sizeof route->index_uid);
        if (seg[2][0] == '\0')
            route->kind = KR_ROUTE_INDEX;
        else if (strcmp(seg[2], "search") == 0)
            route->kind = KR_ROUTE_SEARCH;
        else if (strcmp(seg[2], "stats") == 0)
            route->kind = KR_ROUTE_STATS;
        else if (strcmp(seg[2], "documents") == 0) {
            if (seg[3][0] != '\0') {
                qv_strlcpy(route->document_id, seg[3], sizeof route->document_id);
                route->kind = KR_ROUTE_DOCUMENT;
            } else {
                route->kind = KR_ROUTE_DOCUMENTS;
            }
        }
        return;
    }
    if (strcmp(seg[0], "index") == 0)
        route->kind = KR_ROUTE_ROOT;
}

int32_t kr_path_segment(const char *path, int32_t n, const char **start)
{
    if (start != NULL)
        *start = NULL;
    if (path == NULL || n < 0)
        return -1;
    const char *p = path;
    for (int32_t i = 0;; ++i) {
        while (*p == '/')
            ++p;
        if (*p == '\0')
            return -1;
        const char *end = strchr(p, '/');
        size_t len = end != NULL ? (size_t)(end - p) : strlen(p);
        if (i == n) {
            if (start != NULL)
                *start = p;
            return len > INT32_MAX ? INT32_MAX : (int32_t)len;
        }
        p += len;
    }
}

/* The value of a hexadecimal digit, or -1. */
static int kr_hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f')
        return (c | 0x20) - 'a' + 10;
    return -1;
}

/* Mirrors cgi_query's scan: the first segment whose raw key equals the name,
 * its value decoded with '+' and %XX; only the decoded length is kept. */
size_t kr_query_length(const char *name)
{
    if (name == NULL || name[0] == '\0')
        return 0;
    const char *qs = getenv("QUERY_STRING");
    if (qs == NULL || qs[0] == '\0')
        return strlen(cgi_query(name));

    size_t name_len = strlen(name);
    const char *p = qs;
    for (;;) {
        const char *amp = strchr(p, '&');
        const char *seg_end = amp != NULL ? amp : p + strlen(p);
        const char *eq = (const char *)memchr(p, '=', (size_t)(seg_end - p));
        const char *key_end = eq != NULL ? eq : seg_end;
        if ((size_t)(key_end - p) == name_len && memcmp(p, name, name_len) == 0) {
            if (eq == NULL)
                return 0;
            size_t n = 0;
            for (const char *v = eq + 1; v < seg_end; ++n) {
                if (*v == '%' && seg_end - v >= 3 && kr_hex_value(v[1]) >= 0 && kr_hex_value(v[2]) >= 0)
                    v += 3;
                else
                    v += 1;
            }
            return n;
        }
        if (amp == NULL || amp[1] == '\0')
            return 0;
        p = amp + 1;
    }
}

const char *kr_target_refusal(const char *target)
{
    const char *p = target != NULL ? target : "";
    while (*p != '\0' && *p != '?' && *p != '#') {
        /* One segment, each byte decoded once. */
        int bytes = 0, dots = 0;
        for (; *p != '\0' && *p != '?' && *p != '#' && *p != '/'; ++bytes) {
            int c = (unsigned char)*p;
            if (c == '%' && kr_hex_value(p[1]) >= 0 && kr_hex_value(p[2]) >= 0) {
                c = kr_hex_value(p[1]) * 16 + kr_hex_value(p[2]);
                p += 3;
            } else {
                p += 1;
            }
            if (c < 0x20 || c == 0x7F)
                return "The path must not hold a control character (%00 to %1F, or %7F).";
            dots += c == '.';
        }
        if (dots == bytes && (bytes == 1 || bytes == 2))
            return "The path must not hold a . or .. segment: resolved, it would name another resource.";
        if (*p == '/')
            ++p;
    }
    return NULL;
}
