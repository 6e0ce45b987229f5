/*
 * korrin: the storage and search engine behind the Quorvane Korrin API.
 *
 * The engine keeps indexes of JSON documents in one storage directory, in a
 * SQLite database (WAL mode, full synchronous commits). Every request of the
 * service is a new process that calls korrin_init, one operation and
 * korrin_cleanup, while other processes do the same on the same directory.
 *
 * Conventions, for every function below:
 *  - Texts in and out are NUL-terminated UTF-8. A returned text belongs to
 *    the engine and stays valid until korrin_cleanup, which releases all of
 *    them; callers never free or modify one.
 *  - Failures return NULL, -1 or nonzero as stated, and leave a whole-sentence
 *    message for the API's caller in korrin_last_error. Nothing is printed.
 *  - Every operation that changes data is one transaction: it happens whole
 *    or not at all, and a success result means it is durable (it survives a
 *    crash or power cut at any later instant). Writers wait for each other
 *    (busy timeout of several seconds); readers never wait for writers.
 *  - An index uid is 1 to 127 bytes of ASCII letters, digits, '-' and '_';
 *    every operation refuses any other uid.
 *  - No C++ exception crosses this interface. One process, one thread: the
 *    functions are not meant to be called concurrently within a process.
 */
#ifndef KORRIN_H
#define KORRIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Opens (creating when needed) the store under storage_dir. Returns 0, or
 * nonzero when the directory cannot be created or written, the store is
 * unreadable, corrupt, or of an unknown newer format (never modified then).
 * Cheap: no work proportional to the store's size. Calling it again while
 * started returns 0. */
int korrin_init(const char *storage_dir);

/* Closes the store and releases every text the engine returned. Safe to call
 * when not started. */
void korrin_cleanup(void);

/* The message of this process's latest failure; NULL or "" when none. */
const char *korrin_last_error(void);

/* Searches an index. The query is never NULL ("" lists the documents in the
 * order they were first added). limit below 0 counts as 0 and is capped at
 * 1000; offset below 0 counts as 0. Returns
 *   {"hits":[...],"query":"...","processingTimeMs":N,"limit":N,"offset":N,
 *    "estimatedTotalHits":N}
 * or NULL for an unknown or invalid index. Cost grows with offset + limit,
 * not with the size of the index or the number of matches. */
const char *korrin_search(const char *index_uid, const char *query, int32_t limit, int32_t offset);

/* Adds or replaces documents: body is a JSON array of objects, one object,
 * or NDJSON. An unknown index is created, its primary key inferred from the
 * first document. Returns the number of documents in the batch (0 or more),
 * or -1 when anything in the batch is refused (then nothing is stored). */
int32_t korrin_documents_add(const char *index_uid, const char *body);

/* The stored document as compact JSON, or NULL for an unknown index or id. */
const char *korrin_document_get(const char *index_uid, const char *document_id);

/* 0 when the document was removed; nonzero when the index or the document is
 * unknown or the uid is invalid. */
int korrin_document_delete(const char *index_uid, const char *document_id);

/* Creates an empty index. 0, or nonzero for an existing or invalid uid or an
 * empty primary key. Records created and updated times (RFC 3339, UTC). */
int korrin_index_create(const char *name, const char *primary_key);

/* Removes an index and all its documents. 0, or nonzero when unknown. */
int korrin_index_delete(const char *index_uid);

/* {"document_count":N,"is_indexing":false,"field_distribution":{...}}, or
 * NULL for an unknown or invalid index. */
const char *korrin_index_stats_json(const char *index_uid);

/* A JSON array sorted by uid, each element
 *   {"name":...,"primary_key":...,"created_at":...,"updated_at":...}
 * "[]" when there is none. Never NULL (also "[]" when the store cannot be
 * read). */
const char *korrin_indexes_list_json(void);

#ifdef __cplusplus
}
#endif

#endif /* KORRIN_H */
