/*
 * api_stats: reports the statistics of one index (GET /indexes/{uid}/stats).
 * The outcome travels in the Status header; the exit code is 0.
 */
#include "endpoint.h"

int main(void)
{
    KrRequest req;
    if (kr_endpoint_start(&req, KR_START_ENGINE | KR_START_INDEX) != 0)
        return 0;
    (void)kr_execute_stats(req.index_uid);
    kr_endpoint_stop();
    return 0;
}
