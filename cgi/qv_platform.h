/*
 * The thin layer between the CGI library and the operating system. The rest
 * of the code is written once; only these few calls differ between Windows
 * (where CGI streams must be switched to binary so LF is not turned into
 * CR LF, and directories are made with _mkdir) and POSIX (where streams are
 * always binary and directories are made with mode 0777, less the umask).
 */
#ifndef QV_PLATFORM_H
#define QV_PLATFORM_H

#include <stdio.h>

#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#define QV_PATH_SEP '\\'
static inline void qv_platform_binary(FILE *stream) { _setmode(_fileno(stream), _O_BINARY); }
static inline int qv_platform_mkdir(const char *path) { return _mkdir(path); }
static inline int qv_platform_is_dir(const char *path)
{
    struct _stat st;
    return _stat(path, &st) == 0 && (st.st_mode & _S_IFDIR) != 0;
}
static inline FILE *qv_platform_open_read(const char *path) { return fopen(path, "rb"); }
#else
#include <sys/stat.h>
#include <sys/types.h>
#define QV_PATH_SEP '/'
/* POSIX streams never translate line ends: nothing to switch. */
static inline void qv_platform_binary(FILE *stream) { (void)stream; }
static inline int qv_platform_mkdir(const char *path) { return mkdir(path, 0777); }
static inline int qv_platform_is_dir(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}
/* Opens a file for binary reading. A directory opens too on POSIX (its
 * reads then fail), where Windows refuses it: refused here as well. */
static inline FILE *qv_platform_open_read(const char *path)
{
    FILE *file = fopen(path, "rb");
    struct stat st;
    if (file && fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
        fclose(file);
        return NULL;
    }
    return file;
}
#endif

/* Both separators end a directory name, whatever the platform. */
static inline int qv_platform_is_sep(char c) { return c == '/' || c == '\\'; }

/* Only '/' separates the parts of a path on POSIX: a backslash is an
 * ordinary byte of a file name there. */
static inline int qv_platform_splits(char c)
{
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

#endif /* QV_PLATFORM_H */
