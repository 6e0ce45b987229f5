/*
 * qv_cgi: the CGI gateway library.
 *
 * A web server runs a CGI program once per request. This library reads the
 * request (environment, query string, body) and writes the response (status
 * and content-type headers, the blank line, fatal replies), and offers small
 * string routines over NUL-terminated byte strings and caller-owned buffers.
 *
 * Conventions:
 *  - Nothing here prints on its own, logs, or keeps state beyond two statics:
 *    the ring of eight 512-byte buffers behind cgi_query and the flag that
 *    remembers standard output was switched to binary mode.
 *  - Borrowed results (cgi_env, cgi_method, cgi_path_info, cgi_query) are
 *    never freed nor modified by the caller.
 *  - Buffer routines never write past the given size and always terminate
 *    what they write; a NULL destination or a zero size writes nothing; a NULL
 *    source counts as "". Truncation is silent.
 *  - Single-threaded: one process serves one request.
 */
#ifndef QV_CGI_H
#define QV_CGI_H

#include <stddef.h>
#include <stdio.h>

/* ---- request input ------------------------------------------------------ */

/* The variable's value when set and non-empty, else fallback, else "". */
const char *cgi_env(const char *name, const char *fallback);
/* REQUEST_METHOD, or "GET" when unset or empty. */
const char *cgi_method(void);
/* PATH_INFO, or "/" when unset or empty. */
const char *cgi_path_info(void);
/* 1 when REQUEST_METHOD starts with the bytes 'P' 'O', else 0. */
int cgi_is_post(void);
/* The URL-decoded value of the first parameter whose raw key equals name,
 * at most 511 bytes, held in a ring of eight buffers: valid until eight
 * further calls with a non-empty name. Never NULL: "" for a NULL or empty
 * name (which leaves the ring alone), an absent parameter or a bare key.
 * A decoded %00 ends the text. Without a query string the environment
 * variable of the same name is returned undecoded and uncut (or "" when it
 * holds both ';' and ':'). Allocates nothing. */
const char *cgi_query(const char *name);
/* The request body: the whole file named by POST_BODY_FILE when it opens
 * (CONTENT_LENGTH is then ignored), else up to CONTENT_LENGTH bytes of
 * standard input (at most 2147483647; fewer when the input ends early). A
 * NUL-terminated heap block the caller frees; its length (NUL not counted,
 * inner NULs possible) goes to *out_len when out_len is not NULL. An empty
 * body file gives an empty block, not NULL. NULL (length 0) when there is no
 * body file and CONTENT_LENGTH is unset or not positive, or memory runs
 * out. Read errors just end the body. Does not look at the method. */
char *cgi_read_post(size_t *out_len);

/* ---- response output ---------------------------------------------------- */

/* Header writers: each ends its line with CR LF and switches standard output
 * to binary mode once per process. Ordering is the caller's duty. */
void cgi_header_status(int code, const char *reason); /* reason may be NULL */
void cgi_header_html(void);
void cgi_header_json(void);
void cgi_header_text(void);
void cgi_header_ct(const char *content_type);         /* not NULL */
void cgi_header_extra(const char *line);              /* not NULL, no line end */
/* The blank line that ends the headers; flushes standard output. */
void cgi_headers_end(void);

/* Complete replies that end the process with exit status 0. */
[[noreturn]] void cgi_die_text(int code, const char *message);
[[noreturn]] void cgi_die_html(int code, const char *title, const char *html);
[[noreturn]] void cgi_die_json(int code, const char *message);

/* Switches standard output to binary mode the first time it is called. */
void qv_stdout_bin(void);
/* Stream escapers: write text (NULL writes nothing) escaped for HTML or as
 * the inside of a JSON string; no surrounding quotes. No length limit.
 * JSON: short forms for TAB, LF, CR, '"' and '\\', \u00xx for the other
 * control bytes, any other byte as is. */
void html_escape_f(FILE *out, const char *text);
void json_escape_f(FILE *out, const char *text);
/* The HTML entity html_escape_f writes for c, or NULL when c is written as
 * itself. */
const char *qv_html_entity(char c);

/* ---- strings ------------------------------------------------------------ */

void  qv_strlcpy(char *dst, const char *src, size_t size);
/* vsnprintf into dst; returns the untruncated length, or -1 for a NULL dst,
 * a zero size or an encoding error. */
int   qv_snprintf(char *dst, size_t size, const char *fmt, ...)
      __attribute__((format(printf, 3, 4)));
/* Removes trailing TAB, LF, CR and space in place. */
void  qv_rtrim(char *text);
/* 1 when text is non-empty, has no "..", and only [A-Za-z0-9._-] bytes. */
int   qv_valid_repo_name(const char *text);
/* As qv_valid_repo_name, with '/' and ':' allowed too. */
int   qv_valid_ref(const char *text);
/* dir + separator + name into dst; no separator is added after a dir that
 * already ends in '/' or '\\'. The separator is '/' on POSIX, '\\' on
 * Windows. */
void  qv_path_join(char *dst, size_t size, const char *dir, const char *name);
/* HTML-escapes src into dst; only whole replacements are written. */
void  html_escape(const char *src, char *dst, size_t size);
/* HTML-escaped copy of src in a new heap block, or NULL when out of memory. */
char *html_escape_dup(const char *src);
/* Percent-encodes every byte but [A-Za-z0-9._~-] into dst. */
void  url_encode(const char *src, char *dst, size_t size);

#endif /* QV_CGI_H */
