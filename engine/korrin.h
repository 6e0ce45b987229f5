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

/* Opens (creating when needed, with missing parents) the store
 * <storage_dir>/korrin.db. Returns 0, or nonzero with a message when
 * storage_dir is NULL or empty, the directory cannot be created or written,
 * the file is not a korrin store or is damaged, or its format is newer than
 * this engine's (the file is never modified then). Calling it again while
 * started returns 0 and keeps the first store.
 * Cost: opening the file, reading its header and schema (a few rows per
 * index); nothing grows with the number of documents. */
int korrin_init(const char *storage_dir);

/* Closes the store and releases every text the engine returned, error
 * messages included. Safe to call when not started, and more than once. */
void korrin_cleanup(void);

/* The message of this process's latest failure, "" when there is none (never
 * NULL). Like every returned text it stays valid until korrin_cleanup, even
 * after later failures. Document positions in messages count from 1. */
const char *korrin_last_error(void);

/* Searches an index. A NULL query counts as "". A query without any word
 * ("", blanks, punctuation only) lists the documents in the order they were
 * first added. Otherwise words are matched over every string value, nested
 * ones included, with case and Latin accents folded; a word of 5 to 8
 * characters also matches with one typo, of 9 or more with two; the last
 * word also matches as a prefix; text in double quotes is a phrase. When no
 * document has every word, words are dropped from the end until some do.
 * Hits come best first (more words, fewer typos, words closer together,
 * earlier attribute, whole word before prefix), ties in listing order.
 * limit below 0 counts as 0 and is capped at 1000; offset below 0 counts
 * as 0. Returns
 *   {"hits":[...],"query":"...","processingTimeMs":N,"limit":N,"offset":N,
 *    "estimatedTotalHits":N}
 * ("limit" and "offset" as applied; the total is exact up to 1000 matches,
 * an estimate beyond), or NULL for an unknown or invalid index.
 * Cost: grows with offset + limit and the query's words, not with the
 * number of documents or matches; a short last word that begins many
 * distinct words costs more (see the benchmark notes). */
const char *korrin_search(const char *index_uid, const char *query, int32_t limit, int32_t offset);

/* Adds or replaces documents: body is a JSON array of objects, one object,
 * or NDJSON (one object per line, blank lines ignored). An unknown index is
 * created, its primary key inferred from the first document ("id", else the
 * one attribute whose name ends in "id", any case); an empty batch for an
 * unknown index stores nothing and creates nothing. A document whose id
 * exists replaces it and keeps its place; within a batch the last one wins.
 * Returns the number of documents in the batch (0 or more), or -1 when the
 * uid or anything in the batch is refused, body NULL included (then nothing
 * is stored). Cost: one transaction; memory about twice the body beyond the
 * caller's copy. */
int32_t korrin_documents_add(const char *index_uid, const char *body);

/* The stored document as compact JSON, members in the order received and
 * numbers exactly as sent, or NULL for an unknown or invalid index, a NULL
 * or unknown id. Cost: two indexed lookups. */
const char *korrin_document_get(const char *index_uid, const char *document_id);

/* 0 when the document was removed; nonzero when the uid is invalid, the index
 * or the document is unknown, or document_id is NULL. Cost: one small
 * transaction. */
int korrin_document_delete(const char *index_uid, const char *document_id);

/* Creates an empty index. 0, or nonzero for an existing or invalid uid, or a
 * NULL, empty or non-UTF-8 primary key. Records created and updated times
 * (RFC 3339, UTC, whole seconds); "updated" moves with every change. */
int korrin_index_create(const char *name, const char *primary_key);

/* Removes an index and all its documents in one transaction. 0, or nonzero
 * when the uid is invalid or unknown. Cost grows with the index's size. */
int korrin_index_delete(const char *index_uid);

/* {"document_count":N,"is_indexing":false,"field_distribution":{...}}, the
 * distribution counting per top-level attribute the documents that have it,
 * sorted by name; or NULL for an unknown or invalid index. Cost: grows with
 * the number of distinct attribute names, not with the documents. */
const char *korrin_index_stats_json(const char *index_uid);

/* A JSON array sorted by uid (byte order), each element
 *   {"name":...,"primary_key":...,"created_at":...,"updated_at":...}
 * "[]" when there is none. Never NULL (also "[]" when the engine is not
 * started or the store cannot be read). Cost: one row per index. */
const char *korrin_indexes_list_json(void);

#ifdef __cplusplus
}
#endif

#endif /* KORRIN_H */
