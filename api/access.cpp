/*
 * Opt-in access control: with KORRIN_MASTER_KEY set, a request must present
 * the key as a bearer token. The comparison takes the same time wherever the
 * first difference lies, so the reply time tells nothing about the key.
 */
#include <string.h>
#include <strings.h>

#include "kr_common.h"
#include "qv_cgi.h"

/* 1 when a and b are equal; time depends on the lengths only. */
static int kr_equal_ct(const char *a, size_t a_len, const char *b, size_t b_len)
{
    unsigned char diff = a_len != b_len;
    for (size_t i = 0; i < a_len; ++i)
        diff |= (unsigned char)(a[i] ^ b[b_len != 0 ? i % b_len : 0]);
    return diff == 0 && b_len != 0;
}

int kr_check_access(void)
{
    const char *key = cgi_env("KORRIN_MASTER_KEY", NULL);
    if (key[0] == '\0')
        return 0;
    const char *header = cgi_env("HTTP_AUTHORIZATION", NULL);
    if (header[0] == '\0') {
        kr_respond_error(401, "missing_authorization_header",
                         "The Authorization header is missing: this server requires "
                         "Authorization: Bearer <key>.");
        return -1;
    }
    static const char bearer[] = "Bearer ";
    size_t bearer_len = sizeof bearer - 1;
    const char *token = header;
    size_t token_len = strlen(header);
    /* The scheme name is case-insensitive in HTTP; the key is not. */
    if (token_len >= bearer_len && strncasecmp(header, bearer, bearer_len) == 0) {
        token += bearer_len;
        token_len -= bearer_len;
    } else {
        token_len = 0;
    }
    if (token_len == 0 || !kr_equal_ct(key, strlen(key), token, token_len)) {
        kr_respond_error(403, "invalid_api_key", "The provided API key is invalid.");
        return -1;
    }
    return 0;
}
