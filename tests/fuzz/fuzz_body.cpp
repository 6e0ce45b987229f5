// Fuzzes request-body reading on its three roads: a seekable body file, a
// body file that cannot seek (a pipe, read in chunks), and standard input
// with CONTENT_LENGTH. The first input byte picks the road; for standard
// input the bytes up to the first newline are the CONTENT_LENGTH text. The
// body returned must be exactly the bytes offered (or the documented
// prefix), NUL-terminated, with the true length.
#include <qv_cgi.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdio_ext.h>
#include <string>
#include <unistd.h>

namespace {

std::string s_file;

[[noreturn]] void fail(const char *road, const char *what, size_t got, size_t want)
{
    fprintf(stderr, "cgi_read_post via %s: %s (got %zu, want %zu)\n", road, what, got, want);
    abort();
}

void check(const char *road, char *body, size_t len, const uint8_t *want, size_t want_len)
{
    if (body == nullptr) fail(road, "no body", 0, want_len);
    if (len != want_len) fail(road, "wrong length", len, want_len);
    if (memcmp(body, want, len) != 0) fail(road, "wrong bytes", len, want_len);
    if (body[len] != '\0') fail(road, "not terminated", len, want_len);
    free(body);
}

// A pipe holding all of data, its write end closed.
int filled_pipe(const uint8_t *data, size_t size)
{
    int fds[2];
    if (pipe(fds) != 0) abort();
    fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
    size_t off = 0;
    while (off < size) {
        ssize_t n = write(fds[1], data + off, size - off);
        if (n <= 0) abort();
        off += static_cast<size_t>(n);
    }
    close(fds[1]);
    return fds[0];
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const char *tmp = getenv("TMPDIR");
    s_file = std::string(tmp && *tmp ? tmp : "/tmp") + "/korrin-fuzz-body-" + std::to_string(getpid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > (1u << 20)) return 0;
    int road = data[0] % 3;
    data++;
    size--;
    unsetenv("POST_BODY_FILE");
    unsetenv("CONTENT_LENGTH");
    size_t len = 12345;

    if (road == 0) { // seekable file
        FILE *f = fopen(s_file.c_str(), "wb");
        if (f == nullptr) abort();
        if (size) fwrite(data, 1, size, f);
        fclose(f);
        setenv("POST_BODY_FILE", s_file.c_str(), 1);
        check("file", cgi_read_post(&len), len, data, size);
        unlink(s_file.c_str());
    } else if (road == 1) { // pipe: the chunked road
        int fd = filled_pipe(data, size);
        std::string name = "/dev/fd/" + std::to_string(fd);
        setenv("POST_BODY_FILE", name.c_str(), 1);
        check("pipe", cgi_read_post(&len), len, data, size);
        close(fd);
    } else { // standard input with CONTENT_LENGTH
        const uint8_t *nl = static_cast<const uint8_t *>(memchr(data, '\n', size));
        if (nl == nullptr || nl - data > 24) return 0;
        std::string cl(reinterpret_cast<const char *>(data), static_cast<size_t>(nl - data));
        if (cl.find('\0') != std::string::npos) return 0;
        const uint8_t *body = nl + 1;
        size_t avail = size - static_cast<size_t>(body - data);
        errno = 0;
        long n = strtol(cl.c_str(), nullptr, 10);
        // A huge declared length makes the reader allocate that much up front,
        // which is its documented behaviour, not a fault worth chasing here.
        if (errno == ERANGE || n > (1L << 20)) return 0;
        setenv("CONTENT_LENGTH", cl.c_str(), 1);
        int fd = filled_pipe(body, avail);
        if (dup2(fd, STDIN_FILENO) < 0) abort();
        close(fd);
        clearerr(stdin);
        __fpurge(stdin);
        char *got = cgi_read_post(&len);
        if (n <= 0) {
            if (got != nullptr || len != 0) fail("stdin", "body for a non-positive length", len, 0);
        } else {
            check("stdin", got, len, body, avail < static_cast<size_t>(n) ? avail : static_cast<size_t>(n));
        }
    }
    // The null out-length form must not write through it.
    setenv("POST_BODY_FILE", "/nonexistent/korrin-fuzz", 1);
    unsetenv("CONTENT_LENGTH");
    free(cgi_read_post(nullptr));
    return 0;
}
