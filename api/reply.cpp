/*
 * JSON replies and the error envelope.
 *
 * Every reply of the search API leaves through one of the two writers below:
 * a status line without reason phrase, the JSON content type, the blank line,
 * then the body. The envelope is streamed piecewise through the CGI
 * library's JSON escaper, so a message of any length is written whole.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "korrin.h"
#include "kr_common.h"
#include "kr_internal.h"
#include "qv_cgi.h"

static void kr_reply_headers(int status)
{
    cgi_header_status(status, NULL);
    cgi_header_json();
    cgi_headers_end();
}

void kr_respond_json(int status, const char *text)
{
    kr_reply_headers(status);
    if (text != NULL) {
        fputs(text, stdout);
        fputc('\n', stdout);
    }
    fflush(stdout);
}

void kr_respond_error(int status, const char *code, const char *message)
{
    if (code == NULL)
        code = "internal_error";
    if (message == NULL)
        message = "Error";
    kr_reply_headers(status);
    fputs("{\"message\":\"", stdout);
    json_escape_f(stdout, message);
    fputs("\",\"code\":\"", stdout);
    json_escape_f(stdout, code);
    fputs("\",\"type\":\"invalid_request\",\"link\":\"https://" KR_DOCS_HOST "/errors#", stdout);
    json_escape_f(stdout, code);
    fputs("\"}\n", stdout);
    fflush(stdout);
}

int kr_absent(const char *text)
{
    return text == NULL || text[0] == '\0';
}

const char *kr_engine_message(const char *fallback)
{
    const char *message = korrin_last_error();
    return kr_absent(message) ? fallback : message;
}

void kr_respond_filled(int status, const char *const *parts, size_t count)
{
    kr_reply_headers(status);
    for (size_t i = 0; i < count; ++i) {
        if (i % 2 == 0)
            fputs(parts[i], stdout);
        else
            json_escape_f(stdout, parts[i]);
    }
    fputc('\n', stdout);
    fflush(stdout);
}
