/*
 * api_status: the health check (GET /status), as JSON or as an HTML page.
 * It never starts the engine, so it answers even when the store cannot open.
 */
#include "endpoint.h"

int main(void)
{
    KrRequest req;
    if (kr_endpoint_start(&req, KR_START_OPEN_GET) != 0)
        return 0;
    kr_execute_status();
    return 0;
}
