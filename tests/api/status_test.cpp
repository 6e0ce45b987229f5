#include <algorithm>
#include <string>

#include "harness.h"
#include "kr_common.h"

namespace {

std::string expected_page()
{
    const std::pair<const char *, const char *> rules[] = {
        {"body", "background: #090d16; color: #f8fafc; font-family: -apple-system, BlinkMacSystemFont, 'Segoe UI', "
                 "Roboto, sans-serif; display: flex; align-items: center; justify-content: center; min-height: 100vh; "
                 "margin: 0;"},
        {".card", "background: #131b2e; border: 1px solid #1e293b; border-radius: 12px; padding: 32px; max-width: "
                  "440px; width: 100%; box-shadow: 0 10px 25px -5px rgba(0,0,0,0.5);"},
        {".badge", "display: inline-flex; align-items: center; gap: 6px; padding: 4px 12px; border-radius: 9999px; "
                   "font-size: 13px; font-weight: 600; background: rgba(52, 211, 153, 0.15); color: #34d399; border: "
                   "1px solid rgba(52, 211, 153, 0.3);"},
        {".dot", "width: 8px; height: 8px; border-radius: 50%; background: #10b981; box-shadow: 0 0 12px #10b981;"},
        {"h1", "margin: 16px 0 8px 0; font-size: 20px; font-weight: 700;"},
        {"p", "margin: 0 0 20px 0; color: #94a3b8; font-size: 14px; line-height: 1.5;"},
        {".meta", "border-top: 1px solid #1e293b; padding-top: 16px; display: flex; flex-direction: column; gap: 8px; "
                  "font-size: 13px; color: #cbd5e1;"},
        {".row", "display: flex; justify-content: space-between;"},
        {".key", "color: #64748b;"},
        {"a", "color: #38bdf8; text-decoration: none; font-size: 13px; display: inline-block; margin-top: 16px;"},
        {"a:hover", "text-decoration: underline;"},
    };
    std::string page = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1.0\">\n"
                       "<title>Quorvane Korrin Server Status</title>\n<style>\n";
    for (const auto &[selector, decl] : rules)
        page += std::string(selector) + " { " + decl + " }\n";
    page += "</style>\n</head>\n<body>\n<div class=\"card\">\n"
            "  <div class=\"badge\"><span class=\"dot\"></span> Available</div>\n"
            "  <h1>Quorvane Korrin Server</h1>\n"
            "  <p>Brenvale-compatible native C search engine running on quorvane-server.dll</p>\n"
            "  <div class=\"meta\">\n"
            "    <div class=\"row\"><span class=\"key\">Engine</span><span>quorvane-korrin-core</span></div>\n"
            "    <div class=\"row\"><span class=\"key\">Version</span><span>1.0.0</span></div>\n"
            "    <div class=\"row\"><span class=\"key\">Status</span><span style=\"color:#34d399\">Healthy (HTTP "
            "200)</span></div>\n"
            "  </div>\n"
            "  <a href=\"/\">&larr; Return to Search Sandbox</a>\n"
            "</div>\n</body>\n</html>\n";
    return page;
}

using StatusTest = HandlerTest;

TEST_F(StatusTest, FormsChosenByParameterOrRawText)
{
    const std::string json = json_reply(200, "{\"status\":\"available\",\"version\":\"1.0.0\",\"engine\":\"quorvane-korrin-core\"}");
    const std::string html = "Content-Type: text/html; charset=utf-8\r\n\r\n" + expected_page();
    struct Case {
        std::optional<std::string> query;
        const char                *env_format;
        const std::string         *expected;
    };
    const Case cases[] = {
        {"format=json", NULL, &json},
        {"format=JSON", NULL, &html},
        {"format=%6Ason", NULL, &json},
        {"xformat=jsonp", NULL, &json},
        {"a=1&format=json2", NULL, &json},
        {"format=html", NULL, &html},
        {std::nullopt, NULL, &html},
        {"", NULL, &html},
        {std::nullopt, "json", &json},
        {"a=1", "json", &html},
    };
    for (const Case &c : cases) {
        request({"GET", {}, c.query});
        if (c.env_format)
            setenv("format", c.env_format, 1);
        const std::string label = "query " + c.query.value_or("<unset>") + ", env format " +
                                  (c.env_format ? c.env_format : "<unset>");
        EXPECT_EQ(capture([] { kr_execute_status(); }), *c.expected) << label;
        EXPECT_EQ(capture([] { kr_execute_status(); }), *c.expected) << "repeated, " << label;
    }
    const std::string page = expected_page();
    EXPECT_EQ(std::count(page.begin(), page.end(), '\n'), 34) << "34 lines, each ended by LF";
    EXPECT_EQ(fake_engine_trace(), "") << "the status never asks the engine";
}

} // namespace
