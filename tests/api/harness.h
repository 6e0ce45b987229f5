/*
 * Test harness for the handlers: a CGI environment set up per test, standard
 * output captured into a string, and the expected bytes of whole replies.
 */
#ifndef KR_TEST_HARNESS_H
#define KR_TEST_HARNESS_H

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "fake_engine.h"

/* Every variable a handler or the shared start may read. */
inline const char *const kCgiVars[] = {
    "REQUEST_METHOD", "PATH_INFO",   "QUERY_STRING",       "CONTENT_LENGTH",
    "POST_BODY_FILE", "HTTP_AUTHORIZATION", "KORRIN_MASTER_KEY", "index",
    "name",           "uid",         "id",                 "format",
    "q",              "query",       "limit",              "offset",
    "REQUEST_URI",
};

/* A request: fields left empty stay unset. */
struct Cgi {
    std::optional<std::string> method = {};
    std::optional<std::string> path = {};
    std::optional<std::string> query = {};
    std::optional<std::string> body = {}; /* written to a file named by POST_BODY_FILE */
};

class HandlerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *var : kCgiVars)
            unsetenv(var);
        fake_engine_reset();
        char dir[] = "/tmp/kr-api-test-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override
    {
        for (const char *var : kCgiVars)
            unsetenv(var);
        std::string cmd = "rm -rf '" + dir_ + "'";
        (void)system(cmd.c_str());
    }

    /* Sets the CGI environment of one request. */
    void request(const Cgi &cgi)
    {
        for (const char *var : kCgiVars)
            unsetenv(var);
        if (cgi.method)
            setenv("REQUEST_METHOD", cgi.method->c_str(), 1);
        if (cgi.path)
            setenv("PATH_INFO", cgi.path->c_str(), 1);
        if (cgi.query)
            setenv("QUERY_STRING", cgi.query->c_str(), 1);
        if (cgi.body) {
            std::string file = dir_ + "/body";
            FILE *f = fopen(file.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            fwrite(cgi.body->data(), 1, cgi.body->size(), f);
            fclose(f);
            setenv("POST_BODY_FILE", file.c_str(), 1);
        }
    }

    /* Runs fn with standard output going to a file and returns what it wrote. */
    static std::string capture(const std::function<void()> &fn)
    {
        fflush(stdout);
        int saved = dup(1);
        FILE *tmp = tmpfile();
        dup2(fileno(tmp), 1);
        fn();
        fflush(stdout);
        dup2(saved, 1);
        close(saved);
        std::string out;
        rewind(tmp);
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, tmp)) > 0)
            out.append(buf, n);
        fclose(tmp);
        return out;
    }

    std::string dir_;
};

inline std::string json_reply(int status, const std::string &body)
{
    return "Status: " + std::to_string(status) +
           "\r\nContent-Type: application/json; charset=utf-8\r\n\r\n" + body + "\n";
}

/* The error envelope for code and message (both free of characters that
 * need escaping). */
inline std::string error_reply(int status, const std::string &code, const std::string &message)
{
    return json_reply(status, "{\"message\":\"" + message + "\",\"code\":\"" + code +
                                  "\",\"type\":\"invalid_request\",\"link\":\"https://"
                                  "docs.quorvane.dev/errors#" + code + "\"}");
}

#endif /* KR_TEST_HARNESS_H */
