/*
 * The documents resource: add or replace (POST), fetch one (GET with an id),
 * list the first twenty (GET without one), delete one (DELETE).
 *
 * One engine operation per request. The engine receives the body without a
 * length, as a NUL-terminated text, so a body holding a NUL byte is refused
 * here: the engine would otherwise store whatever came before the NUL and
 * report success for a payload it never saw whole.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <yyjson.h>

#include "korrin.h"
#include "kr_common.h"
#include "kr_internal.h"
#include "qv_cgi.h"

static void kr_documents_add(const char *index_uid)
{
    size_t length = 0;
    char *body = cgi_read_post(&length);
    if (body == NULL || length == 0) {
        free(body);
        kr_respond_error(400, "missing_payload", "Payload is required");
        return;
    }
    size_t text_len = strlen(body);
    if (text_len != length) {
        free(body);
        char message[128];
        qv_snprintf(message, sizeof message,
                    "Payload holds a NUL byte at offset %zu: documents must be JSON text.",
                    text_len);
        kr_respond_error(400, "document_addition_failed", message);
        return;
    }
    int32_t added = korrin_documents_add(index_uid, body);
    free(body);
    if (added < 0) {
        kr_respond_error(400, "document_addition_failed",
                         kr_engine_message("Failed to add documents"));
        return;
    }
    char reply[256];
    qv_snprintf(reply, sizeof reply,
                "{\"status\":\"succeeded\",\"type\":\"documentAdditionOrUpdate\","
                "\"taskUid\":1,\"added\":%d}",
                (int)added);
    kr_respond_json(200, reply);
}

static void kr_documents_list(const char *index_uid)
{
    const char *result = korrin_search(index_uid, "", 20, 0);
    if (result == NULL) {
        kr_respond_json(200, "[]");
        return;
    }
    /* Numbers are kept as their text: read as doubles and written back they
     * would lose digits (8.50 becomes 8.5, a 30-digit integer a rounded
     * float), and the listing would show other values than were stored. */
    yyjson_doc *doc = yyjson_read(result, strlen(result), YYJSON_READ_NUMBER_AS_RAW);
    if (doc == NULL) {
        kr_respond_json(200, "[]");
        return;
    }
    yyjson_val *root = yyjson_doc_get_root(doc);
    yyjson_val *hits = yyjson_is_obj(root) ? yyjson_obj_getn(root, "hits", 4) : NULL;
    if (hits == NULL) {
        yyjson_doc_free(doc);
        kr_respond_json(200, "[]");
        return;
    }
    char *text = yyjson_val_write_opts(hits, 0, NULL, NULL, NULL);
    if (text != NULL) {
        kr_respond_json(200, text);
        free(text);
    } else {
        kr_respond_json(200, "[]");
    }
    yyjson_doc_free(doc);
}

void kr_execute_documents(const char *index_uid, const char *document_id)
{
    if (kr_absent(index_uid)) {
        kr_respond_error(400, "missing_index_name", "Index name is required");
        return;
    }
    const char *method = cgi_method();
    if (strcmp(method, "POST") == 0) {
        kr_documents_add(index_uid);
    } else if (strcmp(method, "GET") == 0) {
        if (kr_absent(document_id)) {
            kr_documents_list(index_uid);
            return;
        }
        const char *text = korrin_document_get(index_uid, document_id);
        if (text != NULL)
            kr_respond_json(200, text);
        else
            kr_respond_error(404, "document_not_found", "Document not found");
    } else if (strcmp(method, "DELETE") == 0) {
        if (kr_absent(document_id)) {
            kr_respond_error(400, "missing_document_id", "Document ID is required for deletion");
            return;
        }
        if (korrin_document_delete(index_uid, document_id) == 0)
            kr_respond_json(200, "{\"status\":\"succeeded\",\"taskUid\":1,\"type\":\"documentDeletion\"}");
        else
            kr_respond_error(404, "document_not_found", kr_engine_message("Document not found"));
    } else {
        kr_respond_error(405, "method_not_allowed", "Method not allowed");
    }
}
