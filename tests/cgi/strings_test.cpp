/* String routines: bounded copies, trim, validators, path join, escaping. */
#include "qv_cgi.h"
#include "test_support.h"

#include <wchar.h>

#include <string>

using qv_test::show;

namespace {

/* A buffer wider than the size handed to the routine, filled with a marker,
 * so that any write past the size shows. */
struct Guarded {
    static constexpr size_t kWidth = 128;
    char bytes[kWidth];
    Guarded() { memset(bytes, '#', sizeof bytes); }
    /* True when nothing at or after offset size was touched. */
    bool clean_from(size_t size) const
    {
        for (size_t i = size; i < kWidth; i++)
            if (bytes[i] != '#')
                return false;
        return true;
    }
};

const char *label(const char *text)
{
    return text ? text : "(null)";
}

TEST(StringsTest, StrlcpyCopiesAtMostSizeLessOne)
{
    struct Case {
        const char *src;
        size_t size;
        const char *expected;
    } cases[] = {
        {"abcdef", 1, ""},
        {"abcdef", 4, "abc"},
        {"abc", 4, "abc"},
        {"abc", 64, "abc"},
        {"", 8, ""},
        {nullptr, 8, ""},
    };
    for (const Case &c : cases) {
        Guarded g;
        qv_strlcpy(g.bytes, c.src, c.size);
        EXPECT_STREQ(g.bytes, c.expected) << "src=" << label(c.src) << " size=" << c.size;
        EXPECT_TRUE(g.clean_from(c.size)) << "src=" << label(c.src) << " size=" << c.size;
    }
    Guarded g;
    qv_strlcpy(g.bytes, "abc", 0);
    EXPECT_TRUE(g.clean_from(0)) << "size 0 wrote something";
    qv_strlcpy(nullptr, "abc", 8);  /* must not crash */
}

TEST(StringsTest, SnprintfReportsTheUntruncatedLength)
{
    struct Case {
        size_t size;
        const char *arg;
        const char *expected;
        int result;
    } cases[] = {
        {4, "0123456789", "012", 10},
        {11, "0123456789", "0123456789", 10},
        {10, "0123456789", "012345678", 10},
        {1, "0123456789", "", 10},
        {8, "", "", 0},
    };
    for (const Case &c : cases) {
        Guarded g;
        int r = qv_snprintf(g.bytes, c.size, "%s", c.arg);
        EXPECT_EQ(r, c.result) << "size=" << c.size << " arg=" << c.arg;
        EXPECT_STREQ(g.bytes, c.expected) << "size=" << c.size << " arg=" << c.arg;
        EXPECT_TRUE(g.clean_from(c.size)) << "size=" << c.size << " arg=" << c.arg;
    }

    Guarded g;
    EXPECT_EQ(qv_snprintf(g.bytes, 0, "%d", 42), -1);
    EXPECT_TRUE(g.clean_from(0)) << "size 0 wrote something";
    EXPECT_EQ(qv_snprintf(nullptr, 8, "%d", 42), -1);

    /* A wide character with no encoding in the C locale fails to format;
     * the buffer must still end in a NUL. */
    Guarded bad;
    const wchar_t wide[] = {0x4e2d, 0};
    EXPECT_LT(qv_snprintf(bad.bytes, 16, "ab%ls", wide), 0);
    EXPECT_EQ(bad.bytes[15], '\0');
    EXPECT_TRUE(bad.clean_from(16));
}

TEST(StringsTest, RtrimRemovesOnlySpaceTabCrLf)
{
    struct Case {
        const char *text;
        const char *expected;
    } cases[] = {
        {"abc \t\r\n", "abc"},
        {"abc", "abc"},
        {"a b  ", "a b"},
        {"  abc", "  abc"},
        {"abc\f", "abc\f"},
        {"abc\v", "abc\v"},
        {"x \f ", "x \f"},
        {" \t\r\n", ""},
        {"", ""},
    };
    for (const Case &c : cases) {
        std::string text = c.text;
        qv_rtrim(text.data());
        EXPECT_EQ(show(text.c_str()), show(c.expected)) << "text " << show(c.text);
    }
    qv_rtrim(nullptr);  /* must not crash */
}

TEST(StringsTest, NameAndRefValidators)
{
    struct Case {
        const char *text;
        int repo_name;
        int ref;
    } cases[] = {
        {"my-repo.v2_x", 1, 1},
        {"refs/heads/main", 0, 1},
        {"tag:2", 0, 1},
        {"a..b", 0, 0},
        {"..", 0, 0},
        {"a...b", 0, 0},
        {"a/../b", 0, 0},
        {"a b", 0, 0},
        {"a;b", 0, 0},
        {".", 1, 1},
        {".hidden", 1, 1},
        {"a.", 1, 1},
        {"-x", 1, 1},
        {"/", 0, 1},
        {"/a/", 0, 1},
        {"a\\b", 0, 0},
        {"a~b", 0, 0},
        {"a+b", 0, 0},
        {"", 0, 0},
        {nullptr, 0, 0},
        {"caf\xc3\xa9", 0, 0},
        {"\xe9", 0, 0},
        {"a\tb", 0, 0},
    };
    for (const Case &c : cases) {
        const char *l = c.text ? c.text : "(null)";
        EXPECT_EQ(qv_valid_repo_name(c.text), c.repo_name) << "repo name " << show(l);
        EXPECT_EQ(qv_valid_ref(c.text), c.ref) << "ref " << show(l);
    }
    std::string long_name(10000, 'a');
    EXPECT_EQ(qv_valid_repo_name(long_name.c_str()), 1) << "no length limit";
}

TEST(StringsTest, PathJoinAddsOneSeparator)
{
    struct Case {
        const char *dir;
        const char *name;
        size_t size;
        const char *expected;
    } cases[] = {
        /* A backslash is an ordinary byte of a POSIX file name, yet it still
         * counts as the end of a directory. */
        {"C:\\data", "idx", 64, "C:\\data/idx"},
        {"C:/data/", "idx", 64, "C:/data/idx"},
        {"C:\\data\\", "idx", 64, "C:\\data\\idx"},
        {"/var/lib", "idx", 64, "/var/lib/idx"},
        {"", "idx", 64, "idx"},
        {nullptr, "idx", 64, "idx"},
        {"abc", "", 64, "abc/"},
        {"abc", nullptr, 64, "abc/"},
        {"", "", 64, ""},
        {nullptr, nullptr, 64, ""},
        {"abcdefgh", "x", 6, "abcde"},
        {"abcd", "xyz", 7, "abcd/x"},
        {"abcd", "xyz", 5, "abcd"},
        {"abcd", "xyz", 6, "abcd/"},
        {"a", "/b", 64, "a//b"},     /* the name is never stripped */
        {"a/", "\\b", 64, "a/\\b"},
        {"", "abcdef", 4, "abc"},
        {"abc", "x", 1, ""},
    };
    for (const Case &c : cases) {
        Guarded g;
        qv_path_join(g.bytes, c.size, c.dir, c.name);
        EXPECT_STREQ(g.bytes, c.expected)
            << "dir=" << label(c.dir) << " name=" << label(c.name) << " size=" << c.size;
        EXPECT_TRUE(g.clean_from(c.size))
            << "dir=" << label(c.dir) << " name=" << label(c.name) << " size=" << c.size;
    }
    Guarded g;
    qv_path_join(g.bytes, 0, "a", "b");
    EXPECT_TRUE(g.clean_from(0)) << "size 0 wrote something";
    qv_path_join(nullptr, 64, "a", "b");  /* must not crash */
}

TEST(StringsTest, HtmlEscapeWritesOnlyWholeReplacements)
{
    struct Case {
        const char *src;
        size_t size;
        const char *expected;
    } cases[] = {
        {"&", 9, "&amp;"},
        {"&", 8, ""},
        {"&", 1, ""},
        {"<<<<<", 20, "&lt;&lt;&lt;"},
        {"<<<<<", 21, "&lt;&lt;&lt;&lt;"},
        {"\"'&<>", 64, "&quot;&#39;&amp;&lt;&gt;"},
        {"abcdefghij", 12, "abcd"},
        {"caf\xc3\xa9\x01", 64, "caf\xc3\xa9\x01"},
        {"", 64, ""},
        {nullptr, 64, ""},
    };
    for (const Case &c : cases) {
        Guarded g;
        html_escape(c.src, g.bytes, c.size);
        EXPECT_EQ(show(g.bytes), show(c.expected)) << "src=" << label(c.src) << " size=" << c.size;
        EXPECT_TRUE(g.clean_from(c.size)) << "src=" << label(c.src) << " size=" << c.size;
    }
    Guarded g;
    html_escape("abc", g.bytes, 0);
    EXPECT_TRUE(g.clean_from(0)) << "size 0 wrote something";
    html_escape("abc", nullptr, 64);  /* must not crash */
}

TEST(StringsTest, HtmlEscapeDupReturnsTheCompleteEscape)
{
    struct Case {
        const char *src;
        const char *expected;
    } cases[] = {
        {"plain text", "plain text"},
        {"\"<", "&quot;&lt;"},
        {"a&b'c>d", "a&amp;b&#39;c&gt;d"},
        {"", ""},
        {nullptr, ""},
    };
    for (const Case &c : cases) {
        char *out = html_escape_dup(c.src);
        ASSERT_NE(out, nullptr) << "src=" << label(c.src);
        EXPECT_STREQ(out, c.expected) << "src=" << label(c.src);
        free(out);
    }
    /* Far beyond any buffer size used elsewhere: nothing is cut. */
    std::string big(50000, '"');
    char *out = html_escape_dup(big.c_str());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(strlen(out), 300000u);
    free(out);
}

TEST(StringsTest, UrlEncodeKeepsOnlyUnreservedBytes)
{
    struct Case {
        const char *src;
        size_t size;
        const char *expected;
    } cases[] = {
        {"a b/c~d", 64, "a%20b%2Fc~d"},
        {"\xe9", 64, "%E9"},
        {"AZaz09-._~", 64, "AZaz09-._~"},
        {"+&=?#%", 64, "%2B%26%3D%3F%23%25"},
        {"\x01\x7f\xff", 64, "%01%7F%FF"},
        {"abc", 4, ""},
        {"abc", 5, "a"},
        {" a", 7, "%20"},     /* the 'a' would still fit, but not 5 bytes */
        {" a", 8, "%20a"},
        {"", 64, ""},
        {nullptr, 64, ""},
    };
    for (const Case &c : cases) {
        Guarded g;
        url_encode(c.src, g.bytes, c.size);
        EXPECT_STREQ(g.bytes, c.expected) << "src=" << show(label(c.src)) << " size=" << c.size;
        EXPECT_TRUE(g.clean_from(c.size)) << "src=" << show(label(c.src)) << " size=" << c.size;
    }
    Guarded g;
    url_encode("abc", g.bytes, 0);
    EXPECT_TRUE(g.clean_from(0)) << "size 0 wrote something";
    url_encode("abc", nullptr, 64);  /* must not crash */
}

}  // namespace
