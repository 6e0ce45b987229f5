/*
 * Internals of kr_common that its own tests reach: nothing here is meant for
 * the programs.
 */
#ifndef KR_INTERNAL_H
#define KR_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

/* Creates s_storage_path and every missing parent; results are ignored (the
 * engine's own start reports a directory that cannot be made). */
void kr_mkdir_p(void);
/* Forgets the resolved storage directory and the started flag, so a test can
 * resolve again under another environment. Does not stop the engine. */
void kr_storage_reset(void);

/* 1 for a NULL or empty text: the handlers treat both as absent. */
int kr_absent(const char *text);
/* korrin_last_error() when it holds a message, else fallback. */
const char *kr_engine_message(const char *fallback);

/* A decimal number read as atoi does (leading white space, a sign, digits up
 * to the first other byte, 0 without digits), clamped to the int32 range
 * instead of overflowing. */
int32_t kr_atoi32(const char *text);

/* Replies with a JSON body of parts: the even-numbered ones (0, 2, ...) as
 * they are, the odd-numbered ones (values) JSON-escaped, then a newline, as
 * kr_respond_json writes a body. */
void kr_respond_filled(int status, const char *const *parts, size_t count);

#endif /* KR_INTERNAL_H */
