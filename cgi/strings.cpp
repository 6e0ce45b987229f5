/*
 * Small string routines of the CGI gateway: bounded copy and print, trim,
 * name validators, path join, and escaping into caller buffers.
 *
 * Every routine works on NUL-terminated bytes and caller-owned buffers and
 * follows one discipline: a null destination or a zero size writes nothing,
 * a null source reads as "", output never passes the given size and always
 * ends in a NUL, and truncation is silent. Inputs are short (names, paths,
 * single values), so plain byte loops are all the speed needed. Only
 * html_escape_dup allocates.
 */
#include "qv_cgi.h"
#include "qv_platform.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

void qv_strlcpy(char *dst, const char *src, size_t size)
{
    if (!dst || size == 0)
        return;
    size_t n = 0;
    if (src) {
        while (n < size - 1 && src[n]) {
            dst[n] = src[n];
            n++;
        }
    }
    dst[n] = '\0';
}

int qv_snprintf(char *dst, size_t size, const char *fmt, ...)
{
    if (!dst || size == 0)
        return -1;
    va_list args;
    va_start(args, fmt);
    int written = vsnprintf(dst, size, fmt, args);
    va_end(args);
    /* After an encoding error the buffer's contents are unspecified; the
     * last byte at least keeps it terminated. */
    dst[size - 1] = '\0';
    return written;
}

void qv_rtrim(char *text)
{
    if (!text)
        return;
    size_t n = strlen(text);
    while (n > 0) {
        char c = text[n - 1];
        if (c != '\t' && c != '\n' && c != '\r' && c != ' ')
            break;
        text[--n] = '\0';
    }
}

/* ASCII letters and digits only, whatever the locale. */
static int s_is_alnum(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

/* Non-empty, no "..", every byte a letter, a digit or one of extra. */
static int s_valid_name(const char *text, const char *extra)
{
    if (!text || !*text || strstr(text, ".."))
        return 0;
    for (const char *p = text; *p; p++) {
        if (!s_is_alnum(*p) && !strchr(extra, *p))
            return 0;
    }
    return 1;
}

int qv_valid_repo_name(const char *text)
{
    return s_valid_name(text, "-._");
}

int qv_valid_ref(const char *text)
{
    return s_valid_name(text, "-./:_");
}

void qv_path_join(char *dst, size_t size, const char *dir, const char *name)
{
    if (!dst || size == 0)
        return;
    dst[0] = '\0';
    if (dir && *dir)
        qv_strlcpy(dst, dir, size);
    size_t len = strlen(dst);
    if (len == 0) {
        if (name && *name)
            qv_strlcpy(dst, name, size);
        return;
    }
    /* Either separator already ends a directory, on every platform. */
    if (!qv_platform_is_sep(dst[len - 1]) && len + 1 < size) {
        dst[len++] = QV_PATH_SEP;
        dst[len] = '\0';
    }
    if (!name || !*name || len >= size)
        return;
    qv_strlcpy(dst + len, name, size - len);
}

const char *qv_html_entity(char c)
{
    switch (c) {
    case '"': return "&quot;";
    case '&': return "&amp;";
    case '\'': return "&#39;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    default: return nullptr;
    }
}

/* Writes the escaped form of c at dst and returns its length. The caller
 * guarantees room for the longest replacement. */
static size_t s_html_put(char *dst, char c)
{
    const char *entity = qv_html_entity(c);
    if (!entity) {
        *dst = c;
        return 1;
    }
    size_t n = strlen(entity);
    memcpy(dst, entity, n);
    return n;
}

void html_escape(const char *src, char *dst, size_t size)
{
    if (!dst || size == 0)
        return;
    size_t p = 0;
    if (src) {
        /* A byte is taken only while 9 bytes remain, so whole replacements
         * are written and the output is cut between source bytes. */
        for (const char *s = src; *s && p + 8 < size; s++)
            p += s_html_put(dst + p, *s);
    }
    dst[p] = '\0';
}

char *html_escape_dup(const char *src)
{
    if (!src)
        src = "";
    size_t n = 0;
    for (const char *s = src; *s; s++) {
        const char *entity = qv_html_entity(*s);
        size_t add = entity ? strlen(entity) : 1;
        /* Six bytes per byte of a long text may not fit in a size_t where
         * it is 32 bits wide; a wrapped count would under-allocate. */
        if (n > SIZE_MAX - 1 - add)
            return nullptr;
        n += add;
    }
    char *out = static_cast<char *>(malloc(n + 1));
    if (!out)
        return nullptr;
    size_t p = 0;
    for (const char *s = src; *s; s++)
        p += s_html_put(out + p, *s);
    out[p] = '\0';
    return out;
}

void url_encode(const char *src, char *dst, size_t size)
{
    static const char s_hex_digits[] = "0123456789ABCDEF";
    if (!dst || size == 0)
        return;
    size_t p = 0;
    if (src) {
        for (const char *s = src; *s && p + 4 < size; s++) {
            unsigned char c = static_cast<unsigned char>(*s);
            if (s_is_alnum(*s) || c == '-' || c == '.' || c == '_' || c == '~') {
                dst[p++] = *s;
            } else {
                dst[p++] = '%';
                dst[p++] = s_hex_digits[c >> 4];
                dst[p++] = s_hex_digits[c & 0x0F];
            }
        }
    }
    dst[p] = '\0';
}
