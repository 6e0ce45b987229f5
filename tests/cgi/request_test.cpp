/* Request input: environment defaults, query parameters, request bodies. */
#include "qv_cgi.h"
#include "test_support.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <string>
#include <vector>

using qv_test::set_env;
using qv_test::show;

namespace {

const char *const kCgiVars[] = {"QUERY_STRING", "REQUEST_METHOD", "PATH_INFO",
                                "CONTENT_LENGTH", "POST_BODY_FILE", "q",
                                "QV_TEST_VAR"};

class RequestTest : public ::testing::Test {
protected:
    void SetUp() override { clear(); }
    void TearDown() override { clear(); }
    static void clear()
    {
        for (const char *name : kCgiVars)
            unsetenv(name);
    }
};

/* ---- environment ------------------------------------------------------- */

TEST_F(RequestTest, EnvFallsBackWhenUnsetOrEmpty)
{
    struct Case {
        const char *value;     /* null: unset */
        const char *fallback;
        const char *expected;
    } cases[] = {
        {"x", "fb", "x"},
        {"", "fb", "fb"},
        {nullptr, "fb", "fb"},
        {nullptr, nullptr, ""},
        {"", nullptr, ""},
        {" ", nullptr, " "},
    };
    for (const Case &c : cases) {
        set_env("QV_TEST_VAR", c.value);
        EXPECT_STREQ(cgi_env("QV_TEST_VAR", c.fallback), c.expected)
            << "value=" << (c.value ? c.value : "(unset)")
            << " fallback=" << (c.fallback ? c.fallback : "(null)");
    }
}

TEST_F(RequestTest, MethodPathInfoAndPostDetection)
{
    struct Case {
        const char *method;  /* null: unset */
        const char *expected_method;
        int is_post;
    } cases[] = {
        {nullptr, "GET", 0}, {"", "GET", 0},       {"POST", "POST", 1},
        {"PO", "PO", 1},     {"POSTAL", "POSTAL", 1}, {"post", "post", 0},
        {"Post", "Post", 0}, {"PUT", "PUT", 0},     {"PATCH", "PATCH", 0},
        {"P", "P", 0},       {"DELETE", "DELETE", 0},
    };
    for (const Case &c : cases) {
        set_env("REQUEST_METHOD", c.method);
        const char *label = c.method ? c.method : "(unset)";
        EXPECT_STREQ(cgi_method(), c.expected_method) << "REQUEST_METHOD=" << label;
        EXPECT_EQ(cgi_is_post(), c.is_post) << "REQUEST_METHOD=" << label;
    }

    struct PathCase {
        const char *path;
        const char *expected;
    } paths[] = {{nullptr, "/"}, {"", "/"}, {"/indexes/movies", "/indexes/movies"}};
    for (const PathCase &c : paths) {
        set_env("PATH_INFO", c.path);
        EXPECT_STREQ(cgi_path_info(), c.expected) << "PATH_INFO=" << (c.path ? c.path : "(unset)");
    }
}

/* ---- query parameters ---------------------------------------------------- */

TEST_F(RequestTest, QueryDecodesTheFirstMatchingParameter)
{
    struct Case {
        const char *query;
        const char *name;
        const char *expected;
    } cases[] = {
        {"a=1&b=2", "b", "2"},
        {"a=1&b=2", "a", "1"},
        {"a=1&b=2", "c", ""},
        {"q=hello+world%21", "q", "hello world!"},
        {"q=%41%62", "q", "Ab"},
        {"q=%6a%6A", "q", "jj"},
        {"q=%zz", "q", "%zz"},
        {"q=%4g1", "q", "%4g1"},
        {"q=%g%41", "q", "%gA"},
        {"q=100%", "q", "100%"},
        {"q=%4", "q", "%4"},
        {"q=%", "q", "%"},
        {"q=%%41", "q", "%A"},
        {"q=%4&1", "q", "%4"},          /* an escape never reaches past its segment */
        {"q=+%2B+", "q", " + "},
        {"q=a=b", "q", "a=b"},          /* the value starts after the first '=' */
        {"q=a%00b", "q", "a"},          /* a decoded NUL ends the text */
        {"Q=1", "q", ""},
        {"q=1", "Q", ""},
        {"my%20key=1", "my key", ""},
        {"my+key=1", "my key", ""},
        {"my%20key=1", "my%20key", "1"},
        {"q=1&q=2", "q", "1"},
        {"a=1&&q=2", "q", "2"},
        {"&q=2", "q", "2"},
        {"=x&q=3", "q", "3"},
        {"a=1&", "q", ""},
        {"qq=1&q=2", "q", "2"},
        {"q=1", "qq", ""},
        {"flag", "flag", ""},
        {"flag=", "flag", ""},
        {"flag&q=1", "q", "1"},
        {"a=1", "a=1", ""},             /* '=' in a name never matches */
        {"a&b=1", "a&b", ""},           /* nor does '&' */
        {"a=1", "a=", ""},
    };
    for (const Case &c : cases) {
        set_env("QUERY_STRING", c.query);
        EXPECT_STREQ(cgi_query(c.name), c.expected)
            << "QUERY_STRING=" << c.query << " name=" << c.name;
    }
}

TEST_F(RequestTest, QueryCutsDecodedValueAt511Bytes)
{
    struct Case {
        std::string raw;     /* the value as it stands in the query string */
        std::string expected;
    } cases[] = {
        {std::string(600, 'x'), std::string(511, 'x')},
        {std::string(511, 'x'), std::string(511, 'x')},
        {std::string(510, 'x'), std::string(510, 'x')},
        {[] { std::string s; for (int i = 0; i < 600; i++) s += "%41"; return s; }(),
         std::string(511, 'A')},
        {std::string(600, '+'), std::string(511, ' ')},
    };
    for (const Case &c : cases) {
        std::string query = "q=" + c.raw + "&r=1";
        set_env("QUERY_STRING", query.c_str());
        EXPECT_EQ(std::string(cgi_query("q")), c.expected)
            << "value of " << c.raw.size() << " raw bytes starting " << c.raw.substr(0, 6);
    }
}

TEST_F(RequestTest, QueryRingHoldsEightValuesAndReusesTheFirstOnTheNinth)
{
    set_env("QUERY_STRING", "a=0&b=1&c=2&d=3&e=4&f=5&g=6&h=7&i=8");
    const char *names[] = {"a", "b", "c", "d", "e", "f", "g", "h"};
    const char *held[8];
    for (int i = 0; i < 8; i++)
        held[i] = cgi_query(names[i]);
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(held[i][0], '0' + i) << "value " << i << " overwritten before its time";
        for (int j = 0; j < i; j++)
            EXPECT_NE(held[i], held[j]) << "calls " << j << " and " << i << " share a buffer";
    }
    const char *ninth = cgi_query("i");
    EXPECT_EQ(ninth, held[0]);
    EXPECT_STREQ(held[0], "8");
    EXPECT_STREQ(held[1], "1");
}

TEST_F(RequestTest, QueryWithNullOrEmptyNameLeavesTheRingAlone)
{
    set_env("QUERY_STRING", "a=1&b=2");
    const char *first = cgi_query("a");
    for (int i = 0; i < 20; i++) {
        EXPECT_STREQ(cgi_query(nullptr), "");
        EXPECT_STREQ(cgi_query(""), "");
    }
    const char *later[7];
    for (const char *&p : later)
        p = cgi_query("b");
    for (const char *p : later)
        EXPECT_NE(p, first);
    EXPECT_STREQ(first, "1") << "a null or empty name advanced the ring";
    EXPECT_EQ(cgi_query("b"), first);
}

/* Every call with a non-empty name takes the next buffer and clears it, also
 * when the answer is an absent parameter, a bare key, or the environment
 * value (which itself never lives in the ring). */
TEST_F(RequestTest, EveryKindOfAnswerAdvancesTheRing)
{
    struct Case {
        const char *label;
        const char *query; /* QUERY_STRING for the seven calls; null: unset */
        const char *name;
        const char *after; /* the held buffer after the eighth call */
    } cases[] = {
        {"absent parameter", "a=1", "zz", ""},
        {"bare key", "flag", "flag", ""},
        {"found parameter", "b=2", "b", "2"},
        {"environment fallback", nullptr, "q", ""},
        {"environment value refused", nullptr, "QV_TEST_VAR", ""},
        {"environment unset", nullptr, "unset_here", ""},
    };
    for (const Case &c : cases) {
        set_env("QUERY_STRING", "held=kept");
        const char *held = cgi_query("held");
        ASSERT_STREQ(held, "kept") << c.label;
        set_env("QUERY_STRING", c.query);
        set_env("q", "from-env");
        set_env("QV_TEST_VAR", "a;b:c");
        for (int i = 0; i < 7; i++)
            (void)cgi_query(c.name);
        EXPECT_STREQ(held, "kept") << c.label << ": overwritten within seven calls";
        (void)cgi_query(c.name);
        EXPECT_STREQ(held, c.after) << c.label << ": the eighth call did not take and clear the held buffer";
    }
}

TEST_F(RequestTest, QueryWithoutQueryStringReadsTheEnvironment)
{
    std::string long_value(600, 'v');
    struct Case {
        const char *query;  /* QUERY_STRING; null: unset */
        const char *value;  /* environment variable q; null: unset */
        const char *expected;
    } cases[] = {
        {nullptr, "abc", "abc"},
        {"", "abc", "abc"},
        {nullptr, "a;b", "a;b"},
        {nullptr, "a:b", "a:b"},
        {nullptr, "a;b:c", ""},
        {nullptr, "C:\\x;D:\\y", ""},
        {nullptr, "a+b%21", "a+b%21"},   /* not decoded */
        {nullptr, "", ""},
        {nullptr, nullptr, ""},
        {"x=1", "abc", ""},              /* a query string disables the fallback */
        {"q", "abc", ""},
        {nullptr, long_value.c_str(), long_value.c_str()},  /* not cut either */
    };
    for (const Case &c : cases) {
        set_env("QUERY_STRING", c.query);
        set_env("q", c.value);
        EXPECT_STREQ(cgi_query("q"), c.expected)
            << "QUERY_STRING=" << (c.query ? c.query : "(unset)")
            << " q=" << (c.value ? std::string(c.value).substr(0, 20) : "(unset)");
    }
}

/* ---- request body ---------------------------------------------------------- */

/* Bytes with NULs and every value in them, so that no byte is lost unseen. */
std::string pattern(size_t size)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; i++)
        s[i] = static_cast<char>((i * 7 + i / 251) % 256);
    return s;
}

class BodyTest : public RequestTest {
protected:
    void SetUp() override
    {
        RequestTest::SetUp();
        char tmpl[] = "/tmp/qv_cgi_body_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override
    {
        freopen("/dev/null", "rb", stdin);
        std::string cmd = "rm -rf '" + dir_ + "'";
        EXPECT_EQ(system(cmd.c_str()), 0);
        RequestTest::TearDown();
    }

    std::string write_file(const std::string &name, const std::string &bytes)
    {
        std::string path = dir_ + "/" + name;
        FILE *f = fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr) << path;
        if (f) {
            fwrite(bytes.data(), 1, bytes.size(), f);
            fclose(f);
        }
        return path;
    }

    /* Makes bytes the whole of standard input. */
    void feed_stdin(const std::string &bytes)
    {
        std::string path = write_file("stdin", bytes);
        ASSERT_NE(freopen(path.c_str(), "rb", stdin), nullptr);
    }

    /* Reads the body, checking that a null result reports length 0. */
    static bool read_body(std::string *out, size_t *len)
    {
        *len = 12345;
        char *body = cgi_read_post(len);
        if (!body) {
            EXPECT_EQ(*len, 0u) << "null body with a non-zero length";
            return false;
        }
        EXPECT_EQ(body[*len], '\0') << "body not terminated";
        out->assign(body, *len);
        free(body);
        return true;
    }

    std::string dir_;
};

TEST_F(BodyTest, SeekableFileIsReadWhole)
{
    struct Case {
        const char *label;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"text", "{\"id\":1}"},
        {"nul bytes", std::string("a\0b\0\0c", 6)},
        {"8192 bytes", pattern(8192)},
        {"200000 bytes", pattern(200000)},
    };
    for (const Case &c : cases) {
        std::string path = write_file("body", c.bytes);
        set_env("POST_BODY_FILE", path.c_str());
        set_env("CONTENT_LENGTH", "1");  /* ignored once the file opens */
        std::string body;
        size_t len = 0;
        ASSERT_TRUE(read_body(&body, &len)) << c.label;
        EXPECT_EQ(len, c.bytes.size()) << c.label;
        EXPECT_TRUE(body == c.bytes) << c.label;
    }
}

TEST_F(BodyTest, NullLengthPointerIsAccepted)
{
    std::string path = write_file("body", "abc");
    set_env("POST_BODY_FILE", path.c_str());
    char *body = cgi_read_post(nullptr);
    ASSERT_NE(body, nullptr);
    EXPECT_STREQ(body, "abc");
    free(body);
}

TEST_F(BodyTest, UnopenableBodyFileFallsBackToStandardInput)
{
    // A directory opens as a file on POSIX but not on Windows; it is no
    // body file on either.
    for (const std::string &path : {dir_ + "/no-such-file", dir_}) {
        set_env("POST_BODY_FILE", path.c_str());
        set_env("CONTENT_LENGTH", "5");
        feed_stdin("hello, more than five");
        std::string body;
        size_t len = 0;
        ASSERT_TRUE(read_body(&body, &len)) << path;
        EXPECT_EQ(body, "hello") << path;
        EXPECT_EQ(len, 5u) << path;
    }
}

/* A FIFO cannot seek, which forces the chunked path. The writer sends the
 * body in uneven pieces, as a real pipe delivers it. */
TEST_F(BodyTest, NonSeekableFileIsReadInChunks)
{
    const size_t sizes[] = {0, 1, 8191, 8192, 8193, 16384, 57343, 57344, 57345,
                            65535, 65536, 65537, 131072, 200000};
    for (size_t size : sizes) {
        std::string fifo = dir_ + "/fifo" + std::to_string(size);
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << fifo;
        std::string bytes = pattern(size);
        fflush(stdout);
        pid_t writer = fork();
        if (writer == 0) {
            int fd = open(fifo.c_str(), O_WRONLY);
            size_t off = 0;
            while (fd >= 0 && off < bytes.size()) {
                size_t piece = std::min<size_t>(1000, bytes.size() - off);
                ssize_t put = write(fd, bytes.data() + off, piece);
                if (put <= 0)
                    break;
                off += static_cast<size_t>(put);
            }
            _exit(off == bytes.size() ? 0 : 1);
        }
        set_env("POST_BODY_FILE", fifo.c_str());
        std::string body;
        size_t len = 0;
        bool got = read_body(&body, &len);
        int status = 0;
        waitpid(writer, &status, 0);
        ASSERT_TRUE(got) << size << " bytes";
        EXPECT_EQ(len, size) << size << " bytes";
        EXPECT_TRUE(body == bytes) << size << " bytes: content differs";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << size << " bytes: writer failed";
    }
}

TEST_F(BodyTest, StandardInputFollowsContentLength)
{
    struct Case {
        const char *content_length;  /* null: unset */
        std::string input;
        bool expect_body;
        std::string expected;
    } cases[] = {
        {nullptr, "hello", false, ""},
        {"", "hello", false, ""},
        {"0", "hello", false, ""},
        {"-3", "hello", false, ""},
        {"abc", "hello", false, ""},
        {" 12xyz", "0123456789abcdef", true, "0123456789ab"},
        {"+3", "hello", true, "hel"},
        {"10", "abcd", true, "abcd"},          /* short input: a short body */
        {"5", std::string("a\0b\0c", 5), true, std::string("a\0b\0c", 5)},
        {"4", "", true, ""},                    /* nothing arrived at all */
        {"99999999999999999999", "abcd", true, "abcd"},  /* saturates, reads what is there */
    };
    for (const Case &c : cases) {
        set_env("CONTENT_LENGTH", c.content_length);
        feed_stdin(c.input);
        std::string body;
        size_t len = 0;
        std::string label = std::string("CONTENT_LENGTH=") +
                            (c.content_length ? c.content_length : "(unset)");
        bool got = read_body(&body, &len);
        EXPECT_EQ(got, c.expect_body) << label;
        if (got && c.expect_body) {
            EXPECT_EQ(len, c.expected.size()) << label;
            EXPECT_EQ(show(body), show(c.expected)) << label;
        }
    }
}

}  // namespace
