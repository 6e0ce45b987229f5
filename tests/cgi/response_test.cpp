/* Response output: exact header bytes, fatal replies, stream escapers. */
#include "qv_cgi.h"
#include "test_support.h"

#include <string>

using qv_test::ChildResult;
using qv_test::kReturnedNormally;
using qv_test::run_in_child;
using qv_test::show;

namespace {

const std::string kPageHead =
    "<!DOCTYPE html><html><body style=\"background:#000;color:#fff;"
    "font-family:sans-serif;padding:40px\">";

TEST(ResponseTest, HeaderWritersWriteExactLines)
{
    struct Case {
        const char *label;
        void (*write)();
        const char *expected;
    } cases[] = {
        {"status 404 Not Found", [] { cgi_header_status(404, "Not Found"); },
         "Status: 404 Not Found\r\n"},
        {"status 404 null reason", [] { cgi_header_status(404, nullptr); }, "Status: 404\r\n"},
        {"status 404 empty reason", [] { cgi_header_status(404, ""); }, "Status: 404\r\n"},
        {"status 200 OK", [] { cgi_header_status(200, "OK"); }, "Status: 200 OK\r\n"},
        {"html", [] { cgi_header_html(); }, "Content-Type: text/html; charset=utf-8\r\n"},
        {"json", [] { cgi_header_json(); },
         "Content-Type: application/json; charset=utf-8\r\n"},
        {"text", [] { cgi_header_text(); }, "Content-Type: text/plain; charset=utf-8\r\n"},
        {"ct", [] { cgi_header_ct("text/csv"); }, "Content-Type: text/csv\r\n"},
        {"ct with percent", [] { cgi_header_ct("x/%s%d"); }, "Content-Type: x/%s%d\r\n"},
        {"extra", [] { cgi_header_extra("Cache-Control: no-store"); },
         "Cache-Control: no-store\r\n"},
        {"extra with percent", [] { cgi_header_extra("X-A: 100%s"); }, "X-A: 100%s\r\n"},
        {"end", [] { cgi_headers_end(); }, "\r\n"},
        {"json twice", [] { cgi_header_json(); cgi_header_json(); },
         "Content-Type: application/json; charset=utf-8\r\n"
         "Content-Type: application/json; charset=utf-8\r\n"},
    };
    for (const Case &c : cases) {
        ChildResult r = run_in_child([&] {
            c.write();
            fflush(stdout);
        });
        EXPECT_EQ(show(r.out), show(c.expected)) << c.label;
        EXPECT_TRUE(r.exited && r.status == kReturnedNormally) << c.label << ": did not return";
    }
}

TEST(ResponseTest, HeadersEndFlushesTheHeaderBlock)
{
    /* No flush of its own: the child ends with _exit, which drops whatever
     * the stdio buffer still holds. */
    ChildResult r = run_in_child([] {
        cgi_header_status(200, nullptr);
        cgi_header_json();
        cgi_headers_end();
    });
    EXPECT_EQ(show(r.out),
              show("Status: 200\r\nContent-Type: application/json; charset=utf-8\r\n\r\n"));
}

TEST(ResponseTest, FatalRepliesWriteACompleteReplyAndExitZero)
{
    ASSERT_EQ(kPageHead.size(), 98u);
    const std::string text_head = "Content-Type: text/plain; charset=utf-8\r\n\r\n";
    const std::string html_head = "Content-Type: text/html; charset=utf-8\r\n\r\n";
    const std::string json_head = "Content-Type: application/json; charset=utf-8\r\n\r\n";
    struct Case {
        const char *label;
        void (*die)();
        std::string expected;
    } cases[] = {
        {"text", [] { cgi_die_text(500, "boom"); }, "Status: 500\r\n" + text_head + "boom\n"},
        {"text null", [] { cgi_die_text(400, nullptr); }, "Status: 400\r\n" + text_head + "\n"},
        {"text unescaped", [] { cgi_die_text(200, "<a>\"\\"); },
         "Status: 200\r\n" + text_head + "<a>\"\\\n"},
        {"html null null", [] { cgi_die_html(500, nullptr, nullptr); },
         "Status: 500\r\n" + html_head + kPageHead + "</body></html>\n"},
        {"html empty title", [] { cgi_die_html(404, "", nullptr); },
         "Status: 404\r\n" + html_head + kPageHead + "<h1></h1></body></html>\n"},
        {"html title escaped, fragment not", [] { cgi_die_html(403, "a<b & 'c'", "<p>x<y</p>"); },
         "Status: 403\r\n" + html_head + kPageHead +
             "<h1>a&lt;b &amp; &#39;c&#39;</h1><p>x<y</p></body></html>\n"},
        {"html fragment only", [] { cgi_die_html(500, nullptr, "<b>x</b>"); },
         "Status: 500\r\n" + html_head + kPageHead + "<b>x</b></body></html>\n"},
        {"json null", [] { cgi_die_json(500, nullptr); },
         "Status: 500\r\n" + json_head + "{\"ok\":false,\"error\":\"error\"}\n"},
        {"json empty", [] { cgi_die_json(400, ""); },
         "Status: 400\r\n" + json_head + "{\"ok\":false,\"error\":\"\"}\n"},
        {"json escaped", [] { cgi_die_json(400, "say \"hi\"\\\n"); },
         "Status: 400\r\n" + json_head + "{\"ok\":false,\"error\":\"say \\\"hi\\\"\\\\\\n\"}\n"},
    };
    for (const Case &c : cases) {
        ChildResult r = run_in_child(c.die);
        EXPECT_EQ(show(r.out), show(c.expected)) << c.label;
        EXPECT_TRUE(r.exited) << c.label << ": killed by a signal";
        EXPECT_EQ(r.status, 0) << c.label << ": wrong exit status (97: it returned)";
    }
}

TEST(ResponseTest, FatalReplyFlushesBodyWrittenBeforeIt)
{
    /* Headers already buffered by the caller stay in front of the reply. */
    ChildResult r = run_in_child([] {
        cgi_header_extra("X-Trace: 1");
        cgi_die_text(503, "busy");
    });
    EXPECT_EQ(show(r.out), show("X-Trace: 1\r\nStatus: 503\r\n"
                                "Content-Type: text/plain; charset=utf-8\r\n\r\nbusy\n"));
    EXPECT_EQ(r.status, 0);
}

/* ---- stream escapers ------------------------------------------------------ */

std::string escape_to_string(void (*escape)(FILE *, const char *), const char *text)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    if (!f)
        return "(open_memstream failed)";
    escape(f, text);
    fclose(f);
    std::string out(buf, len);
    free(buf);
    return out;
}

struct EscapeCase {
    const char *input;  /* null: a null text */
    std::string expected;
};

TEST(ResponseTest, HtmlStreamEscaper)
{
    const EscapeCase cases[] = {
        {nullptr, ""},
        {"", ""},
        {"plain text", "plain text"},
        {"\"", "&quot;"},
        {"&", "&amp;"},
        {"'", "&#39;"},
        {"<", "&lt;"},
        {">", "&gt;"},
        {"<a href=\"x\">Tom & 'Jerry'</a>", "&lt;a href=&quot;x&quot;&gt;Tom &amp; &#39;Jerry&#39;&lt;/a&gt;"},
        {"&amp;", "&amp;amp;"},
        {"\x01\t\n\r\x1f\x7f", "\x01\t\n\r\x1f\x7f"},
        {"caf\xc3\xa9 \x80\xff", "caf\xc3\xa9 \x80\xff"},
        {"/\\`=", "/\\`="},
    };
    for (const EscapeCase &c : cases)
        EXPECT_EQ(show(escape_to_string(html_escape_f, c.input)), show(c.expected))
            << "input " << (c.input ? show(c.input) : "(null)");
}

TEST(ResponseTest, JsonStreamEscaper)
{
    const EscapeCase cases[] = {
        {nullptr, ""},
        {"", ""},
        {"plain", "plain"},
        {"\t", "\\t"},
        {"\n", "\\n"},
        {"\r", "\\r"},
        {"\"", "\\\""},
        {"\\", "\\\\"},
        {"\x01", "\\u0001"},
        {"\x08", "\\u0008"},
        {"\x0b", "\\u000b"},
        {"\x0c", "\\u000c"},
        {"\x1b", "\\u001b"},
        {"\x1f", "\\u001f"},
        {" ", " "},
        {"/", "/"},
        {"\x7f", "\x7f"},
        {"\x80\xff", "\x80\xff"},
        {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},
        {"<&'>", "<&'>"},
        {"a\"b\\c\nd", "a\\\"b\\\\c\\nd"},
    };
    for (const EscapeCase &c : cases)
        EXPECT_EQ(show(escape_to_string(json_escape_f, c.input)), show(c.expected))
            << "input " << (c.input ? show(c.input) : "(null)");
}

TEST(ResponseTest, EscapersHaveNoLengthLimit)
{
    std::string input(100000, '<');
    std::string html = escape_to_string(html_escape_f, input.c_str());
    EXPECT_EQ(html.size(), 400000u);
    EXPECT_EQ(html.substr(html.size() - 4), "&lt;");

    input.assign(100000, '\x02');
    std::string json = escape_to_string(json_escape_f, input.c_str());
    EXPECT_EQ(json.size(), 600000u);
    EXPECT_EQ(json.substr(json.size() - 6), "\\u0002");
}

}  // namespace
