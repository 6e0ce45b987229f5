/*
 * The start and stop shared by every API program.
 *
 * A program calls kr_endpoint_start, then (when it returned 0) its one
 * handler with the values found, then kr_endpoint_stop. The start writes the
 * reply itself whenever the request must not reach the handler.
 */
#ifndef KR_ENDPOINT_H
#define KR_ENDPOINT_H

#include "kr_common.h"

/* What the start found for the handler: whole values, never cut ones. */
struct KrRequest {
    Route route;
    char  index_uid[128];   /* "" when the request names none */
    char  document_id[512]; /* "" when none or not asked for */
};

enum {
    KR_START_ENGINE = 1,   /* start the engine; 500 reply when it cannot */
    KR_START_INDEX = 2,    /* choose the index uid: path, then "index", "name", "uid" */
    KR_START_DOCUMENT = 4, /* choose the document id: path, then "id" */
    KR_START_OPEN_GET = 8, /* a GET or HEAD needs no key even when one is configured */
};

/* Returns 0 when the handler may run with *req filled; otherwise the reply
 * has been written (refusal, or engine start failure) and the program only
 * returns. */
int  kr_endpoint_start(KrRequest *req, int flags);
/* Stops the engine when the start started it. */
void kr_endpoint_stop(void);

#endif /* KR_ENDPOINT_H */
