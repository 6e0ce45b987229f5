/*
 * api_documents: the documents endpoint. The web server runs it once per
 * request under /indexes/{uid}/documents; it adds, lists, fetches or deletes
 * documents. The outcome travels in the Status header; the exit code is 0.
 */
#include "endpoint.h"

int main(void)
{
    KrRequest req;
    if (kr_endpoint_start(&req, KR_START_ENGINE | KR_START_INDEX | KR_START_DOCUMENT) != 0)
        return 0;
    kr_execute_documents(req.index_uid, req.document_id);
    kr_endpoint_stop();
    return 0;
}
