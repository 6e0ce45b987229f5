/*
 * kr_common: the search-API core shared by the CGI programs.
 *
 * It resolves the storage directory and starts and stops the engine once per
 * process, parses request paths into routes, writes JSON replies and the error
 * envelope, and offers one handler per API resource. Every handler writes
 * exactly one complete CGI reply to standard output through kr_respond_json
 * or kr_respond_error.
 *
 * kr_common calls the engine through engine/korrin.h but does not link it:
 * each program links the real engine (quorvane-korrin-core), and the tests
 * link a fake one.
 */
#ifndef KR_COMMON_H
#define KR_COMMON_H

#include <stddef.h>
#include <stdint.h>

/* ---- storage directory and engine lifecycle ----------------------------- */

/* The storage directory, resolved on first use from KORRIN_STORAGE_DIR,
 * KORRIN_DATA_DIR, then the platform's fallbacks. The text lives in a static
 * 512-byte buffer. */
const char *kr_get_storage_dir(void);
/* Creates the storage directory and starts the engine: 0, or -1 when the
 * engine refused to start. A second call after a success returns 0. */
int  kr_init_engine(void);
/* Stops the engine if it is started. */
void kr_cleanup_engine(void);

/* ---- replies ------------------------------------------------------------ */

/* Where the error envelope's "link" points: https://<host>/errors#<code>. */
#define KR_DOCS_HOST "docs.quorvane.dev"

/* Status header, JSON content type, blank line, then text and "\n" (no body
 * at all for a NULL text). */
void kr_respond_json(int status, const char *text);
/* The error envelope {"message","code","type","link"}; NULL code or message
 * become "internal_error" and "Error". */
void kr_respond_error(int status, const char *code, const char *message);

/* ---- routes ------------------------------------------------------------- */

enum {
    KR_ROUTE_NONE = 0,
    KR_ROUTE_ROOT = 1,
    KR_ROUTE_STATUS = 2,
    KR_ROUTE_INDEXES = 3,
    KR_ROUTE_INDEX = 4,
    KR_ROUTE_SEARCH = 5,
    KR_ROUTE_DOCUMENTS = 6,
    KR_ROUTE_DOCUMENT = 7,
    KR_ROUTE_STATS = 8,
};

/* index_uid and document_id hold at most 127 bytes; longer path segments are
 * cut. */
struct Route {
    int32_t kind;
    char    index_uid[128];
    char    document_id[128];
};

/* Fills route from a request path; never fails. A NULL route does nothing. */
void kr_parse_route(const char *path, Route *route);

/* ---- measuring the raw request ---------------------------------------- */

/* Route parsing and cgi_query cut what they read (the path at 512 bytes and at
 * '?', segments at 127 bytes, query values at 511 bytes and at a decoded NUL).
 * These measure the same values whole, so a caller can refuse a cut name
 * instead of acting on another index or document than the one requested. */

/* Length of segment n (0 for the first) of the whole path, splitting at runs
 * of '/' only, with no cut at 512 bytes, at '?' or at 127 bytes; *start (when
 * start is not NULL) receives the segment's first byte. -1 (and NULL) when
 * the path is NULL or has fewer segments. */
int32_t kr_path_segment(const char *path, int32_t n, const char **start);
/* The decoded length of query parameter name, counting every byte (NULs
 * included) with no 511-byte cap; 0 when absent or empty. Without a query
 * string, the length of what cgi_query returns. */
size_t  kr_query_length(const char *name);
/* Why the path of a request target as sent (REQUEST_URI, up to its '?')
 * must be refused, or NULL: a segment of one or two dots ('.' or %2E),
 * which the web server resolves before routing, or a control character,
 * raw or %-encoded, which it turns into '_'. Either way the program would
 * act on another resource than the one named. */
const char *kr_target_refusal(const char *target);

/* ---- access control ----------------------------------------------------- */

/* When KORRIN_MASTER_KEY is set and non-empty, the request must carry
 * "Authorization: Bearer <key>" (HTTP_AUTHORIZATION). Returns 0 when the
 * request may go on; otherwise writes the 401 or 403 reply and returns -1.
 * Without the variable every request may go on and nothing is written. */
int     kr_check_access(void);

/* ---- resource handlers -------------------------------------------------- */

void kr_execute_documents(const char *index_uid, const char *document_id);
int  kr_execute_search(const char *index_uid);
void kr_execute_indexes(const char *index_uid);
int  kr_execute_stats(const char *index_uid);
void kr_execute_status(void);

#endif /* KR_COMMON_H */
