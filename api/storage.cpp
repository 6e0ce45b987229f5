/*
 * The storage directory and the engine's lifecycle: one start and one stop
 * per process, since every request is a process of its own.
 *
 * The directory comes from the environment, with fixed fallbacks, and is
 * resolved once into s_storage_path. A configured path that does not fit the
 * 512-byte buffer is never cut: a cut path names another directory, and the
 * engine would open (or create) a different store there. The start refuses
 * instead, and the program answers with its 500 reply.
 */
#include <string.h>

#include "korrin.h"
#include "kr_common.h"
#include "kr_internal.h"
#include "qv_cgi.h"
#include "qv_platform.h"

static char    s_storage_path[512];
static int32_t s_storage_too_long = 0;
static int32_t s_engine_initialized = 0;

#ifdef _WIN32
#define KR_APPDATA_VAR "LOCALAPPDATA"
#define KR_APPDATA_FMT "%s\\PersonalKorrin\\data"
#define KR_TEMP_VAR "TEMP"
#define KR_TEMP_FMT "%s\\quorvane-korrin"
#define KR_FIXED_DIR "C:\\tmp\\quorvane-korrin"
#else
#define KR_APPDATA_VAR "XDG_DATA_HOME"
#define KR_APPDATA_FMT "%s/PersonalKorrin/data"
#define KR_TEMP_VAR "TMPDIR"
#define KR_TEMP_FMT "%s/quorvane-korrin"
#define KR_FIXED_DIR "/tmp/quorvane-korrin"
#endif

static void kr_resolve_storage_dir(void)
{
    const size_t size = sizeof s_storage_path;
    const char *value = cgi_env("KORRIN_STORAGE_DIR", NULL);
    if (value[0] == '\0')
        value = cgi_env("KORRIN_DATA_DIR", NULL);
    if (value[0] != '\0') {
        qv_strlcpy(s_storage_path, value, size);
        s_storage_too_long = strlen(value) >= size;
        return;
    }
    int n;
    if ((value = cgi_env(KR_APPDATA_VAR, NULL))[0] != '\0')
        n = qv_snprintf(s_storage_path, size, KR_APPDATA_FMT, value);
    else if ((value = cgi_env(KR_TEMP_VAR, NULL))[0] != '\0')
        n = qv_snprintf(s_storage_path, size, KR_TEMP_FMT, value);
    else
        n = qv_snprintf(s_storage_path, size, "%s", KR_FIXED_DIR);
    s_storage_too_long = n < 0 || (size_t)n >= size;
}

const char *kr_get_storage_dir(void)
{
    if (s_storage_path[0] == '\0')
        kr_resolve_storage_dir();
    return s_storage_path;
}

void kr_mkdir_p(void)
{
    char path[512];
    qv_strlcpy(path, s_storage_path, sizeof path);
    size_t len = strlen(path);
    if (len == 0)
        return;
    if (qv_platform_is_sep(path[len - 1]))
        path[--len] = '\0';
    /* Nearly every request finds its directory in place: one stat, no walk. */
    if (qv_platform_is_dir(path))
        return;
    /* The first byte is never a separator here: on POSIX that keeps the
     * walk from trying to create "" for an absolute path. */
    for (size_t i = 1; i < len; ++i) {
        if (qv_platform_splits(path[i])) {
            path[i] = '\0';
            (void)qv_platform_mkdir(path);
            path[i] = QV_PATH_SEP;
        }
    }
    (void)qv_platform_mkdir(path);
}

int kr_init_engine(void)
{
    if (s_engine_initialized)
        return 0;
    if (s_storage_path[0] == '\0')
        kr_resolve_storage_dir();
    if (s_storage_too_long)
        return -1;
    kr_mkdir_p();
    if (korrin_init(s_storage_path) != 0)
        return -1;
    s_engine_initialized = 1;
    return 0;
}

void kr_cleanup_engine(void)
{
    if (!s_engine_initialized)
        return;
    korrin_cleanup();
    s_engine_initialized = 0;
}

void kr_storage_reset(void)
{
    s_storage_path[0] = '\0';
    s_storage_too_long = 0;
    s_engine_initialized = 0;
}
