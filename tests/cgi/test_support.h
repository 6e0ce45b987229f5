/*
 * Helpers shared by the qv_cgi tests: a scratch directory, a clean CGI
 * environment, and running code in a child process whose standard output
 * is captured byte for byte.
 */
#ifndef QV_CGI_TEST_SUPPORT_H
#define QV_CGI_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace qv_test {

/* Exit status of a child whose code returned instead of ending the process. */
constexpr int kReturnedNormally = 97;

struct ChildResult {
    std::string out;  /* everything the child wrote to standard output */
    bool exited;      /* ended through exit/_exit, not a signal */
    int status;       /* its exit status when exited */
};

/* Runs fn in a forked child with standard output on a pipe. Nothing is
 * flushed for fn: what it leaves in the stdio buffer is lost when the child
 * ends with _exit(kReturnedNormally), which lets tests see flushes. */
template <class Fn>
ChildResult run_in_child(Fn fn)
{
    fflush(stdout);
    fflush(stderr);
    int fds[2];
    if (pipe(fds) != 0) {
        ADD_FAILURE() << "pipe failed";
        return {"", false, -1};
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], STDOUT_FILENO);
        close(fds[1]);
        fn();
        _exit(kReturnedNormally);
    }
    close(fds[1]);
    ChildResult result{"", false, -1};
    char buf[4096];
    ssize_t got;
    while ((got = read(fds[0], buf, sizeof buf)) > 0)
        result.out.append(buf, static_cast<size_t>(got));
    close(fds[0]);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    result.exited = WIFEXITED(wstatus);
    result.status = result.exited ? WEXITSTATUS(wstatus) : -1;
    return result;
}

/* Sets name to value, or unsets it when value is null. */
inline void set_env(const char *name, const char *value)
{
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

/* Makes "\x01" and friends readable in failure messages. */
inline std::string show(const std::string &bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

}  // namespace qv_test

#endif
