// The judged query set: corpus.json is loaded into a fresh store through
// korrin_documents_add, every query of judgements.json runs through
// korrin_search, and each judgement (ids within the first N hits, in order
// where it says so, and ids that must stay out) is checked. Every missed
// judgement is printed with its query; the share met is printed at the end.
#include "korrin.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Doc {
    explicit Doc(const std::string &text) : doc(yyjson_read(text.data(), text.size(), 0)) {}
    ~Doc() { yyjson_doc_free(doc); }
    Doc(const Doc &) = delete;
    Doc &operator=(const Doc &) = delete;
    yyjson_val *root() const { return yyjson_doc_get_root(doc); }
    yyjson_doc *doc;
};

std::vector<std::int64_t> ints(yyjson_val *arr)
{
    std::vector<std::int64_t> out;
    yyjson_arr_iter it = yyjson_arr_iter_with(arr);
    while (yyjson_val *v = yyjson_arr_iter_next(&it)) out.push_back(yyjson_get_sint(v));
    return out;
}

std::string show(const std::vector<std::int64_t> &ids)
{
    std::string s = "[";
    for (std::size_t i = 0; i < ids.size(); ++i) s += (i ? ", " : "") + std::to_string(ids[i]);
    return s + "]";
}

class SearchQuality : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/korrin-quality-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ASSERT_EQ(korrin_init(dir_.c_str()), 0) << korrin_last_error();
        std::string corpus = read_file(std::string(KORRIN_QUALITY_DIR) + "/corpus.json");
        ASSERT_FALSE(corpus.empty());
        ASSERT_GT(korrin_documents_add("quality", corpus.c_str()), 300) << korrin_last_error();
    }
    void TearDown() override
    {
        korrin_cleanup();
        std::filesystem::remove_all(dir_);
    }

    // The ids of the first `limit` hits of a query.
    std::vector<std::int64_t> hits(const char *query, int limit)
    {
        const char *reply = korrin_search("quality", query, limit, 0);
        if (reply == nullptr) {
            ADD_FAILURE() << "search failed for " << query << ": " << korrin_last_error();
            return {};
        }
        Doc doc(reply);
        std::vector<std::int64_t> ids;
        yyjson_arr_iter it = yyjson_arr_iter_with(yyjson_obj_get(doc.root(), "hits"));
        while (yyjson_val *h = yyjson_arr_iter_next(&it)) ids.push_back(yyjson_get_sint(yyjson_obj_get(h, "id")));
        return ids;
    }

    std::string dir_;
};

TEST_F(SearchQuality, EveryJudgementIsMet)
{
    Doc judgements(read_file(std::string(KORRIN_QUALITY_DIR) + "/judgements.json"));
    ASSERT_TRUE(yyjson_is_arr(judgements.root()));
    std::size_t met = 0, total = 0;
    yyjson_arr_iter it = yyjson_arr_iter_with(judgements.root());
    while (yyjson_val *j = yyjson_arr_iter_next(&it)) {
        const char *query = yyjson_get_str(yyjson_obj_get(j, "query"));
        const char *kind = yyjson_get_str(yyjson_obj_get(j, "kind"));
        int top = static_cast<int>(yyjson_get_int(yyjson_obj_get(j, "top")));
        bool ordered = yyjson_get_bool(yyjson_obj_get(j, "ordered"));
        std::vector<std::int64_t> expect = ints(yyjson_obj_get(j, "expect"));
        std::vector<std::int64_t> absent = ints(yyjson_obj_get(j, "absent"));
        std::vector<std::int64_t> got = hits(query, top);

        std::string why;
        std::size_t at = 0;  // for ordered judgements: where the last one was found
        for (std::int64_t id : expect) {
            auto pos = std::find(got.begin(), got.end(), id);
            if (pos == got.end()) {
                why += " missing " + std::to_string(id) + ";";
                continue;
            }
            std::size_t p = static_cast<std::size_t>(pos - got.begin());
            if (ordered && p < at) why += " " + std::to_string(id) + " out of order;";
            at = std::max(at, p);
        }
        for (std::int64_t id : absent)
            if (std::find(got.begin(), got.end(), id) != got.end()) why += " " + std::to_string(id) + " should not be there;";
        ++total;
        if (why.empty()) {
            ++met;
        } else {
            ADD_FAILURE() << "[" << kind << "] query \"" << query << "\": top " << top << " wanted "
                          << show(expect) << (ordered ? " in order" : "") << ", got " << show(got) << ":" << why;
        }
    }
    std::printf("judgements met: %zu of %zu (%.1f%%)\n", met, total, total ? 100.0 * met / total : 0.0);
    EXPECT_GE(total, 60u);
}

}  // namespace
