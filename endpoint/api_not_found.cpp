/*
 * api_not_found: the web server sends every API path that no program serves
 * here, so such a request gets the JSON error envelope with status 404 rather
 * than the server's own HTML page.
 */
#include <stdlib.h>
#include <string.h>

#include "endpoint.h"
#include "qv_cgi.h"

int main(void)
{
    KrRequest req;
    if (kr_endpoint_start(&req, 0) != 0)
        return 0;
    const char *path = cgi_path_info();
    size_t size = strlen(path) + 32;
    char *message = (char *)malloc(size);
    if (message != NULL)
        qv_snprintf(message, size, "Resource `%s` not found.", path);
    kr_respond_error(404, "not_found", message != NULL ? message : "Resource not found.");
    free(message);
    return 0;
}
