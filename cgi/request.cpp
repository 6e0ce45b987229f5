/*
 * Request side of the CGI gateway: environment lookups with defaults, query
 * parameters, and the request body.
 *
 * The web server starts one process per request, so everything here runs a
 * handful of times per process: lookups go straight to getenv on each call
 * (no caching, no start-up parsing), and query values are decoded into a
 * small static ring so that callers never manage their memory. Nothing here
 * prints or stops the process; every failure shows as a default value or a
 * null body.
 */
#include "qv_cgi.h"
#include "qv_platform.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

/* Eight results of cgi_query may be held at once; a ninth call reuses the
 * buffer of the first. s_slot is the buffer handed out last. */
enum { QV_QUERY_SLOTS = 8, QV_QUERY_SLOT_SIZE = 512 };
static char s_slots[QV_QUERY_SLOTS][QV_QUERY_SLOT_SIZE];
static int s_slot = 0;

/* Bodies of known size are counted in a signed 32-bit quantity. */
static const long s_body_max = INT32_MAX;
/* The unknown-size path starts at 64 KiB and reads 8 KiB at a time. */
enum { QV_BODY_FIRST_CAPACITY = 65536, QV_BODY_CHUNK = 8192 };

const char *cgi_env(const char *name, const char *fallback)
{
    const char *value = name ? getenv(name) : nullptr;
    if (value && *value)
        return value;
    return fallback ? fallback : "";
}

const char *cgi_method(void)
{
    return cgi_env("REQUEST_METHOD", "GET");
}

const char *cgi_path_info(void)
{
    return cgi_env("PATH_INFO", "/");
}

int cgi_is_post(void)
{
    const char *method = getenv("REQUEST_METHOD");
    /* A one-byte value stops at its NUL before the second comparison. */
    return method && method[0] == 'P' && method[1] == 'O';
}

static int s_hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

/* Decodes the value bytes [src, end) into out (QV_QUERY_SLOT_SIZE bytes).
 * A '%' that does not start a complete escape stays literal and the byte
 * after it is decoded normally, so "%%41" gives "%A". */
static void s_url_decode(const char *src, const char *end, char *out)
{
    size_t n = 0;
    while (src < end && n < QV_QUERY_SLOT_SIZE - 1) {
        char c = *src;
        if (c == '+') {
            out[n++] = ' ';
            src++;
        } else if (c == '%' && end - src >= 3 && s_hex_value(src[1]) >= 0
                   && s_hex_value(src[2]) >= 0) {
            out[n++] = static_cast<char>(s_hex_value(src[1]) * 16 + s_hex_value(src[2]));
            src += 3;
        } else {
            out[n++] = c;
            src++;
        }
    }
    out[n] = '\0';
}

const char *cgi_query(const char *name)
{
    const char *query = getenv("QUERY_STRING");
    if (!name || !*name)
        return "";

    s_slot = (s_slot + 1) % QV_QUERY_SLOTS;
    char *out = s_slots[s_slot];
    out[0] = '\0';

    if (!query || !*query) {
        /* Run by hand, without a web server, the parameters come from the
         * environment. A value holding both ';' and ':' looks like a
         * search-path list rather than a parameter, and is refused. */
        const char *value = getenv(name);
        if (!value || !*value)
            return "";
        if (strchr(value, ';') && strchr(value, ':'))
            return "";
        return value;
    }

    size_t name_len = strlen(name);
    const char *segment = query;
    for (;;) {
        const char *amp = strchr(segment, '&');
        const char *end = amp ? amp : segment + strlen(segment);
        const char *eq = static_cast<const char *>(
            memchr(segment, '=', static_cast<size_t>(end - segment)));
        const char *key_end = eq ? eq : end;
        if (static_cast<size_t>(key_end - segment) == name_len
            && memcmp(segment, name, name_len) == 0) {
            if (eq)
                s_url_decode(eq + 1, end, out);
            return out;
        }
        if (!amp || amp[1] == '\0')
            return out;
        segment = amp + 1;
    }
}

/* Reads a stream of unknown length to its end. Returns the NUL-terminated
 * block and its length in *count, or null when memory runs out. */
static char *s_read_chunked(FILE *file, size_t *count)
{
    size_t capacity = QV_BODY_FIRST_CAPACITY;
    size_t used = 0;
    char *buffer = static_cast<char *>(malloc(capacity));
    if (!buffer)
        return nullptr;
    for (;;) {
        /* Room for one more chunk and the final NUL; one doubling always
         * suffices because a chunk is far smaller than the capacity. */
        if (capacity < used + QV_BODY_CHUNK + 1) {
            char *grown = static_cast<char *>(realloc(buffer, capacity * 2));
            if (!grown) {
                free(buffer);
                return nullptr;
            }
            buffer = grown;
            capacity *= 2;
        }
        size_t got = fread(buffer + used, 1, QV_BODY_CHUNK, file);
        used += got;
        if (got < QV_BODY_CHUNK)
            break;
    }
    buffer[used] = '\0';
    *count = used;
    return buffer;
}

/* Reads up to `wanted` bytes, known in advance, in one allocation: a
 * shorter stream gives a shorter body. NULL when memory runs out. */
static char *s_read_known(FILE *stream, size_t wanted, size_t *count)
{
    char *buffer = static_cast<char *>(malloc(wanted + 1));
    if (!buffer)
        return nullptr;
    size_t got = fread(buffer, 1, wanted, stream);
    buffer[got] = '\0';
    *count = got;
    return buffer;
}

/* Reads the whole body file; null when memory runs out. */
static char *s_read_body_file(FILE *file, size_t *count)
{
    if (fseek(file, 0, SEEK_END) != 0)
        return s_read_chunked(file, count);

    long size = ftell(file);
    if (size < 0 || size > s_body_max) {
        /* A size that cannot be trusted or counted (an ftell failure, or
         * more than 2 GiB) would turn into an empty or cut body reported as
         * complete; reading to the end keeps every byte. */
        rewind(file);
        return s_read_chunked(file, count);
    }
    rewind(file);
    return s_read_known(file, static_cast<size_t>(size), count);
}

char *cgi_read_post(size_t *out_len)
{
    if (out_len)
        *out_len = 0;

    const char *path = getenv("POST_BODY_FILE");
    if (path && *path) {
        FILE *file = qv_platform_open_read(path);
        if (file) {
            size_t count = 0;
            char *body = s_read_body_file(file, &count);
            fclose(file);
            if (body && out_len)
                *out_len = count;
            return body;
        }
    }

    const char *text = getenv("CONTENT_LENGTH");
    if (!text)
        return nullptr;
    long length = strtol(text, nullptr, 10);
    if (length <= 0)
        return nullptr;
    if (length > s_body_max)
        length = s_body_max;

    qv_platform_binary(stdin);
    size_t count = 0;
    char *body = s_read_known(stdin, static_cast<size_t>(length), &count);
    if (body && out_len)
        *out_len = count;
    return body;
}
