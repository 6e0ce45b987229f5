/*
 * api_search: searches one index (GET or POST /indexes/{uid}/search).
 * The outcome travels in the Status header; the exit code is 0.
 */
#include "endpoint.h"

int main(void)
{
    KrRequest req;
    if (kr_endpoint_start(&req, KR_START_ENGINE | KR_START_INDEX) != 0)
        return 0;
    (void)kr_execute_search(req.index_uid);
    kr_endpoint_stop();
    return 0;
}
