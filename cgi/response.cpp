/*
 * Response side of the CGI gateway: header lines, the blank line that ends
 * them, complete fatal replies, and escapers that stream text into an HTML
 * page or a JSON string.
 *
 * A reply is a few short headers and one body written once per process,
 * all through the buffered standard output; nothing here allocates. Write
 * errors are ignored: once the server has gone away there is nobody left to
 * tell. Header lines end in CR LF, which is why standard output must be in
 * binary mode on platforms that would otherwise translate LF.
 */
#include "qv_cgi.h"
#include "qv_platform.h"

#include <stdlib.h>

/* Set once standard output has been switched to binary mode. */
static int s_stdout_binary = 0;

static const char s_html_page_head[] =
    "<!DOCTYPE html><html><body style=\"background:#000;color:#fff;"
    "font-family:sans-serif;padding:40px\">";

void qv_stdout_bin(void)
{
    if (s_stdout_binary)
        return;
    qv_platform_binary(stdout);
    s_stdout_binary = 1;
}

void cgi_header_status(int code, const char *reason)
{
    qv_stdout_bin();
    if (reason && *reason)
        printf("Status: %d %s\r\n", code, reason);
    else
        printf("Status: %d\r\n", code);
}

void cgi_header_html(void)
{
    cgi_header_ct("text/html; charset=utf-8");
}

void cgi_header_json(void)
{
    cgi_header_ct("application/json; charset=utf-8");
}

void cgi_header_text(void)
{
    cgi_header_ct("text/plain; charset=utf-8");
}

void cgi_header_ct(const char *content_type)
{
    qv_stdout_bin();
    printf("Content-Type: %s\r\n", content_type);
}

void cgi_header_extra(const char *line)
{
    qv_stdout_bin();
    fputs(line, stdout);
    fputs("\r\n", stdout);
}

void cgi_headers_end(void)
{
    fputs("\r\n", stdout);
    fflush(stdout);
    /* The body may be written by code that never touched a header writer
     * (or that reopened the stream), so the mode is set again here. */
    qv_platform_binary(stdout);
}

void cgi_die_text(int code, const char *message)
{
    cgi_header_status(code, nullptr);
    cgi_header_text();
    cgi_headers_end();
    fputs(message ? message : "", stdout);
    fputc('\n', stdout);
    fflush(stdout);
    exit(0);
}

void cgi_die_html(int code, const char *title, const char *html)
{
    cgi_header_status(code, nullptr);
    cgi_header_html();
    cgi_headers_end();
    fputs(s_html_page_head, stdout);
    if (title) {
        fputs("<h1>", stdout);
        html_escape_f(stdout, title);
        fputs("</h1>", stdout);
    }
    /* The fragment is markup supplied by the program itself. */
    if (html)
        fputs(html, stdout);
    fputs("</body></html>\n", stdout);
    fflush(stdout);
    exit(0);
}

void cgi_die_json(int code, const char *message)
{
    cgi_header_status(code, nullptr);
    cgi_header_json();
    cgi_headers_end();
    fputs("{\"ok\":false,\"error\":\"", stdout);
    json_escape_f(stdout, message ? message : "error");
    fputs("\"}\n", stdout);
    fflush(stdout);
    exit(0);
}

void html_escape_f(FILE *out, const char *text)
{
    if (!text)
        return;
    for (const char *p = text; *p; p++) {
        const char *entity = qv_html_entity(*p);
        if (entity)
            fputs(entity, out);
        else
            fputc(*p, out);
    }
}

void json_escape_f(FILE *out, const char *text)
{
    static const char hex[] = "0123456789abcdef";
    if (!text)
        return;
    for (const char *p = text; *p; p++) {
        unsigned char c = (unsigned char)*p;
        switch (c) {
        case '\t': fputs("\\t", out); break;
        case '\n': fputs("\\n", out); break;
        case '\r': fputs("\\r", out); break;
        case '"':  fputs("\\\"", out); break;
        case '\\': fputs("\\\\", out); break;
        default:
            /* Bytes from 0x80 pass through: UTF-8 sequences stay whole. */
            if (c < 0x20) {
                fputs("\\u00", out);
                fputc(hex[c >> 4], out);
                fputc(hex[c & 15], out);
            } else {
                fputc(c, out);
            }
        }
    }
}
