/*
 * The built programs run as child processes, the way the web server runs
 * them: a CGI environment, the body on standard input with CONTENT_LENGTH,
 * the real engine on a temporary storage directory. Whole responses are
 * compared; times the engine records or measures are normalised first.
 */
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Reply {
    std::string out;
    int         exit_code = -1;
};

std::string json(int status, const std::string &body)
{
    return "Status: " + std::to_string(status) + "\r\nContent-Type: application/json; charset=utf-8\r\n\r\n" + body +
           "\n";
}

std::string error(int status, const std::string &code, const std::string &message)
{
    return json(status, "{\"message\":\"" + message + "\",\"code\":\"" + code +
                            "\",\"type\":\"invalid_request\",\"link\":\"https://docs.quorvane.dev/errors#" + code +
                            "\"}");
}

/* Engine times become T and measured milliseconds 0. */
std::string normalised(const std::string &text)
{
    static const std::regex time(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?Z)");
    static const std::regex ms(R"("processingTimeMs":\d+)");
    return std::regex_replace(std::regex_replace(text, time, "T"), ms, "\"processingTimeMs\":0");
}

class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char *build = getenv("KORRIN_BUILD_DIR");
        ASSERT_NE(build, nullptr) << "KORRIN_BUILD_DIR names the build folder";
        bin_ = std::string(build) + "/cgi-bin/";
        char dir[] = "/tmp/kr-process-test-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        storage_ = dir_ + "/store";
    }
    void TearDown() override
    {
        std::string cmd = "rm -rf '" + dir_ + "'";
        (void)system(cmd.c_str());
    }

    /* Runs program with exactly the given variables (plus the storage
     * directory unless given) and body on standard input. */
    Reply run(const std::string &program, std::map<std::string, std::string> env, const std::string &body = "")
    {
        if (!env.count("KORRIN_STORAGE_DIR"))
            env["KORRIN_STORAGE_DIR"] = storage_;
        if (!body.empty() && !env.count("CONTENT_LENGTH"))
            env["CONTENT_LENGTH"] = std::to_string(body.size());
        const std::string in_path = dir_ + "/stdin", out_path = dir_ + "/stdout";
        std::ofstream(in_path, std::ios::binary) << body;
        std::vector<std::string> vars;
        for (const auto &[k, v] : env)
            vars.push_back(k + "=" + v);
        std::vector<char *> envp;
        for (std::string &v : vars)
            envp.push_back(v.data());
        envp.push_back(nullptr);
        const std::string path = bin_ + program;
        pid_t pid = fork();
        if (pid == 0) {
            int in = open(in_path.c_str(), O_RDONLY);
            int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(in, 0);
            dup2(out, 1);
            char *argv[] = {const_cast<char *>(path.c_str()), nullptr};
            execve(path.c_str(), argv, envp.data());
            _exit(127);
        }
        Reply r;
        int status = 0;
        waitpid(pid, &status, 0);
        r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::ifstream f(out_path, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        r.out = ss.str();
        return r;
    }

    /* Runs and checks the whole (normalised) response and the exit code 0. */
    void expect(const std::string &label, const std::string &program, std::map<std::string, std::string> env,
                const std::string &body, const std::string &expected)
    {
        Reply r = run(program, std::move(env), body);
        EXPECT_EQ(r.exit_code, 0) << label;
        EXPECT_EQ(normalised(r.out), expected) << label;
    }

    std::string bin_, dir_, storage_;
};

const std::string kMovies = "[{\"id\":1,\"title\":\"Star Wars\",\"year\":1977},{\"id\":\"two\",\"title\":\"Moon\"}]";

TEST_F(ProcessTest, DocumentsEndToEnd)
{
    const std::string docs = "/indexes/movies/documents";
    expect("add", "api_documents", {{"REQUEST_METHOD", "POST"}, {"PATH_INFO", docs}}, kMovies,
           json(200, "{\"status\":\"succeeded\",\"type\":\"documentAdditionOrUpdate\",\"taskUid\":1,\"added\":2}"));
    expect("list", "api_documents", {{"REQUEST_METHOD", "GET"}, {"PATH_INFO", docs}}, "",
           json(200, "[{\"id\":1,\"title\":\"Star Wars\",\"year\":1977},{\"id\":\"two\",\"title\":\"Moon\"}]"));
    expect("fetch by path", "api_documents", {{"PATH_INFO", docs + "/1"}}, "",
           json(200, "{\"id\":1,\"title\":\"Star Wars\",\"year\":1977}"));
    expect("fetch by query", "api_documents", {{"QUERY_STRING", "index=movies&id=two"}}, "",
           json(200, "{\"id\":\"two\",\"title\":\"Moon\"}"));
    expect("path index, query id", "api_documents", {{"PATH_INFO", docs}, {"QUERY_STRING", "id=1"}}, "",
           json(200, "{\"id\":1,\"title\":\"Star Wars\",\"year\":1977}"));
    expect("environment fallback", "api_documents", {{"index", "movies"}, {"id", "two"}}, "",
           json(200, "{\"id\":\"two\",\"title\":\"Moon\"}"));
    expect("POST to a search path adds", "api_documents",
           {{"REQUEST_METHOD", "POST"}, {"PATH_INFO", "/indexes/movies/search"}}, "{\"id\":3,\"title\":\"Alien\"}",
           json(200, "{\"status\":\"succeeded\",\"type\":\"documentAdditionOrUpdate\",\"taskUid\":1,\"added\":1}"));
    expect("delete", "api_documents", {{"REQUEST_METHOD", "DELETE"}, {"PATH_INFO", docs + "/two"}}, "",
           json(200, "{\"status\":\"succeeded\",\"taskUid\":1,\"type\":\"documentDeletion\"}"));
    expect("fetch deleted", "api_documents", {{"PATH_INFO", docs + "/two"}}, "",
           error(404, "document_not_found", "Document not found"));

    Reply r = run("api_documents", {{"REQUEST_METHOD", "DELETE"}, {"PATH_INFO", docs + "/two"}});
    EXPECT_EQ(r.out.rfind("Status: 404\r\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\"code\":\"document_not_found\""), std::string::npos) << r.out;
    r = run("api_documents", {{"REQUEST_METHOD", "POST"}, {"PATH_INFO", docs}}, "[{\"id\":");
    EXPECT_EQ(r.out.rfind("Status: 400\r\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\"code\":\"document_addition_failed\""), std::string::npos) << r.out;
}

TEST_F(ProcessTest, DocumentsRefusals)
{
    const std::string docs = "/indexes/movies/documents";
    const std::string long_uid(200, 'm');
    expect("no index", "api_documents", {{"REQUEST_METHOD", "PUT"}}, "",
           error(400, "missing_index_name", "Index name is required"));
    expect("PUT", "api_documents", {{"REQUEST_METHOD", "PUT"}, {"PATH_INFO", docs}}, "",
           error(405, "method_not_allowed", "Method not allowed"));
    expect("empty POST", "api_documents", {{"REQUEST_METHOD", "POST"}, {"PATH_INFO", docs}}, "",
           error(400, "missing_payload", "Payload is required"));
    expect("DELETE without id", "api_documents", {{"REQUEST_METHOD", "DELETE"}, {"PATH_INFO", docs}}, "",
           error(400, "missing_document_id", "Document ID is required for deletion"));
    expect("long uid", "api_documents", {{"REQUEST_METHOD", "POST"}, {"PATH_INFO", "/indexes/" + long_uid + "/documents"}},
           "[{\"id\":1}]", error(400, "invalid_index_uid", "Index uid is too long: at most 127 bytes in the path."));
    expect("long uid from the query", "api_documents",
           {{"REQUEST_METHOD", "POST"}, {"QUERY_STRING", "index=" + long_uid}}, "[{\"id\":1}]",
           error(400, "invalid_index_uid", "Index uid is too long: at most 127 bytes."));
    /* Nothing of the refused additions reached the store. */
    expect("store untouched", "api_indexes", {{"PATH_INFO", "/indexes"}}, "",
           json(200, "{\"results\":[],\"offset\":0,\"limit\":20,\"total\":0}"));
}

TEST_F(ProcessTest, EngineThatCannotStartAnswers500)
{
    const std::string file = dir_ + "/not-a-dir";
    std::ofstream(file) << "x";
    const std::string failed = error(500, "engine_init_failed", "Failed to initialize korrin engine");
    for (const char *program : {"api_documents", "api_search", "api_indexes", "api_stats"})
        expect(program, program, {{"PATH_INFO", "/indexes/movies/documents/1"}, {"KORRIN_STORAGE_DIR", file}}, "",
               failed);
    Reply r = run("api_status", {{"QUERY_STRING", "format=json"}, {"KORRIN_STORAGE_DIR", file}});
    EXPECT_EQ(r.out, json(200, "{\"status\":\"available\",\"version\":\"1.0.0\",\"engine\":\"quorvane-korrin-core\"}"))
        << "the status never starts the engine";
}

TEST_F(ProcessTest, IndexesSearchStatsAndStatus)
{
    expect("create", "api_indexes", {{"REQUEST_METHOD", "POST"}, {"PATH_INFO", "/indexes"}},
           "{\"uid\":\"books\",\"primaryKey\":\"isbn\"}",
           json(201, "{\"uid\":\"books\",\"name\":\"books\",\"primaryKey\":\"isbn\",\"status\":\"succeeded\"}"));
    Reply r = run("api_indexes", {{"REQUEST_METHOD", "POST"}, {"PATH_INFO", "/indexes/books"}});
    EXPECT_EQ(r.out.rfind("Status: 400\r\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\"code\":\"index_already_exists\""), std::string::npos) << r.out;
    expect("add", "api_documents", {{"REQUEST_METHOD", "POST"}, {"PATH_INFO", "/indexes/books/documents"}},
           "[{\"isbn\":\"a1\",\"t\":\"red star\"},{\"isbn\":\"a2\",\"t\":\"blue star\"},{\"isbn\":\"a3\",\"t\":\"moon\"}]",
           json(200, "{\"status\":\"succeeded\",\"type\":\"documentAdditionOrUpdate\",\"taskUid\":1,\"added\":3}"));
    expect("describe", "api_indexes", {{"PATH_INFO", "/indexes/books"}}, "",
           json(200, "{\"uid\":\"books\",\"name\":\"books\",\"primaryKey\":\"isbn\",\"createdAt\":\"T\",\"updatedAt\":\"T\"}"));
    expect("list", "api_indexes", {{"PATH_INFO", "/indexes"}}, "",
           json(200, "{\"results\":[{\"uid\":\"books\",\"name\":\"books\",\"primaryKey\":\"isbn\",\"primary_key\":"
                     "\"isbn\",\"createdAt\":\"T\",\"updatedAt\":\"T\"}],\"offset\":0,\"limit\":20,\"total\":1}"));
    expect("search from the body", "api_search", {{"REQUEST_METHOD", "POST"}, {"PATH_INFO", "/indexes/books/search"}},
           "{\"q\":\"star\",\"limit\":1,\"offset\":1}",
           json(200, "{\"hits\":[{\"isbn\":\"a2\",\"t\":\"blue star\"}],\"query\":\"star\",\"processingTimeMs\":0,"
                     "\"limit\":1,\"offset\":1,\"estimatedTotalHits\":2}"));
    expect("search from the query string", "api_search",
           {{"PATH_INFO", "/indexes/books/search"}, {"QUERY_STRING", "q=star&limit=1"}}, "",
           json(200, "{\"hits\":[{\"isbn\":\"a1\",\"t\":\"red star\"}],\"query\":\"star\",\"processingTimeMs\":0,"
                     "\"limit\":1,\"offset\":0,\"estimatedTotalHits\":2}"));
    r = run("api_search", {{"PATH_INFO", "/indexes/nope/search"}});
    EXPECT_EQ(r.out.rfind("Status: 404\r\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\"code\":\"index_not_found\""), std::string::npos) << r.out;
    expect("stats", "api_stats", {{"PATH_INFO", "/indexes/books/stats"}}, "",
           json(200, "{\"numberOfDocuments\":3,\"document_count\":3,\"isIndexing\":false,\"fieldDistribution\":{},"
                     "\"stats\":{\"document_count\":3,\"is_indexing\":false,\"field_distribution\":{\"isbn\":3,\"t\":3}}}"));
    expect("stats of unknown", "api_stats", {{"PATH_INFO", "/indexes/nope/stats"}}, "",
           error(404, "index_not_found", "Index not found"));
    expect("delete index", "api_indexes", {{"REQUEST_METHOD", "DELETE"}, {"PATH_INFO", "/indexes/books"}}, "",
           json(200, "{\"status\":\"succeeded\",\"taskUid\":1,\"type\":\"indexDeletion\"}"));
    expect("describe deleted", "api_indexes", {{"PATH_INFO", "/indexes/books"}}, "",
           error(404, "index_not_found", "Index not found"));

    r = run("api_status", {{"PATH_INFO", "/status"}});
    EXPECT_EQ(r.out.rfind("Content-Type: text/html; charset=utf-8\r\n\r\n<!DOCTYPE html>\n", 0), 0u) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 8), "</html>\n");
    expect("not found", "api_not_found", {{"PATH_INFO", "/indexes/books/settings"}}, "",
           error(404, "not_found", "Resource `/indexes/books/settings` not found."));
}

TEST_F(ProcessTest, MasterKeyGuardsEveryProgramButTheStatusPage)
{
    const std::string missing = error(401, "missing_authorization_header",
                                      "The Authorization header is missing: this server requires "
                                      "Authorization: Bearer <key>.");
    const std::string invalid = error(403, "invalid_api_key", "The provided API key is invalid.");
    const std::string docs = "/indexes/movies/documents";
    for (const char *program : {"api_documents", "api_search", "api_indexes", "api_stats", "api_not_found"}) {
        expect(std::string(program) + " without key", program,
               {{"REQUEST_METHOD", "POST"}, {"PATH_INFO", docs}, {"KORRIN_MASTER_KEY", "k3y"}}, "[{\"id\":1}]",
               missing);
        expect(std::string(program) + " wrong key", program,
               {{"PATH_INFO", docs}, {"KORRIN_MASTER_KEY", "k3y"}, {"HTTP_AUTHORIZATION", "Bearer k3Y"}}, "", invalid);
    }
    expect("nothing was added", "api_indexes", {{"PATH_INFO", "/indexes"}}, "",
           json(200, "{\"results\":[],\"offset\":0,\"limit\":20,\"total\":0}"));
    expect("right key", "api_documents",
           {{"REQUEST_METHOD", "POST"}, {"PATH_INFO", docs}, {"KORRIN_MASTER_KEY", "k3y"},
            {"HTTP_AUTHORIZATION", "Bearer k3y"}},
           "[{\"id\":1}]",
           json(200, "{\"status\":\"succeeded\",\"type\":\"documentAdditionOrUpdate\",\"taskUid\":1,\"added\":1}"));
    expect("status is open", "api_status",
           {{"PATH_INFO", "/status"}, {"QUERY_STRING", "format=json"}, {"KORRIN_MASTER_KEY", "k3y"}}, "",
           json(200, "{\"status\":\"available\",\"version\":\"1.0.0\",\"engine\":\"quorvane-korrin-core\"}"));
}

} // namespace
