#include "engine_test_util.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

std::string make_temp_dir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "korrin-engine-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    return tmpl;
}

void remove_tree(const std::string &path)
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void EngineTest::SetUp()
{
    dir_ = make_temp_dir();
    ASSERT_EQ(korrin_init(dir_.c_str()), 0) << korrin_last_error();
}

void EngineTest::TearDown()
{
    korrin_cleanup();
    remove_tree(dir_);
}

int EngineTest::add(const char *uid, const std::string &body)
{
    int n = korrin_documents_add(uid, body.c_str());
    EXPECT_GE(n, 0) << "body " << body << ": " << error();
    return n;
}

std::string EngineTest::error()
{
    const char *e = korrin_last_error();
    return e ? e : "";
}

std::string EngineTest::get(const char *uid, const char *id)
{
    const char *d = korrin_document_get(uid, id);
    return d ? d : "<null>";
}
