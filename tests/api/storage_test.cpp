#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "harness.h"
#include "kr_common.h"
#include "kr_internal.h"

namespace {

const char *const kStorageVars[] = {"KORRIN_STORAGE_DIR", "KORRIN_DATA_DIR", "XDG_DATA_HOME", "TMPDIR"};

class StorageTest : public HandlerTest {
protected:
    void SetUp() override
    {
        HandlerTest::SetUp();
        for (const char *var : kStorageVars) {
            const char *v = getenv(var);
            saved_.push_back(v ? std::optional<std::string>(v) : std::nullopt);
            unsetenv(var);
        }
        kr_storage_reset();
    }
    void TearDown() override
    {
        for (size_t i = 0; i < saved_.size(); ++i) {
            if (saved_[i])
                setenv(kStorageVars[i], saved_[i]->c_str(), 1);
            else
                unsetenv(kStorageVars[i]);
        }
        kr_storage_reset();
        HandlerTest::TearDown();
    }
    bool is_dir(const std::string &path)
    {
        struct stat st;
        return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    std::vector<std::optional<std::string>> saved_;
};

TEST_F(StorageTest, DirectoryComesFromTheFirstNonEmptyVariable)
{
    struct Case {
        const char *storage, *data, *xdg, *tmpdir;
        const char *expected;
    };
    const Case cases[] = {
        {"/s", "/d", "/x", "/t", "/s"},
        {"", "D:\\data", NULL, NULL, "D:\\data"},
        {NULL, "/d/", "/x", "/t", "/d/"},
        {NULL, NULL, "/x", "/t", "/x/PersonalKorrin/data"},
        {"", "", "", "/t", "/t/quorvane-korrin"},
        {NULL, NULL, NULL, NULL, "/tmp/quorvane-korrin"},
    };
    for (const Case &c : cases) {
        const char *values[] = {c.storage, c.data, c.xdg, c.tmpdir};
        for (size_t i = 0; i < 4; ++i) {
            if (values[i])
                setenv(kStorageVars[i], values[i], 1);
            else
                unsetenv(kStorageVars[i]);
        }
        kr_storage_reset();
        EXPECT_STREQ(kr_get_storage_dir(), c.expected) << "expected " << c.expected;
        /* Resolved once: a later change of the environment is not seen. */
        setenv("KORRIN_STORAGE_DIR", "/changed", 1);
        EXPECT_STREQ(kr_get_storage_dir(), c.expected);
    }
}

TEST_F(StorageTest, InitCreatesEveryParentAndPassesThePathUnchanged)
{
    std::string configured = dir_ + "/a//b/c/";
    setenv("KORRIN_STORAGE_DIR", configured.c_str(), 1);
    ASSERT_EQ(kr_init_engine(), 0);
    EXPECT_TRUE(is_dir(dir_ + "/a/b/c"));
    auto calls = fake_engine_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].fn, "korrin_init");
    EXPECT_EQ(calls[0].args[0], configured) << "the engine gets the trailing separator too";

    EXPECT_EQ(kr_init_engine(), 0) << "a second start is a no-op";
    EXPECT_EQ(fake_engine_trace(), "korrin_init");
    kr_cleanup_engine();
    kr_cleanup_engine();
    EXPECT_EQ(fake_engine_trace(), "korrin_init korrin_cleanup");
}

TEST_F(StorageTest, BackslashIsAnOrdinaryByteOnPosix)
{
    std::string configured = dir_ + "/x\\y\\";
    setenv("KORRIN_STORAGE_DIR", configured.c_str(), 1);
    (void)kr_get_storage_dir();
    kr_mkdir_p();
    EXPECT_TRUE(is_dir(dir_ + "/x\\y")) << "one directory named x\\y, the trailing backslash dropped";
    EXPECT_FALSE(is_dir(dir_ + "/x"));
}

/* Relative paths show the walk best: every prefix up to a '/' is made in
 * turn, from the second byte on, while the engine gets the text as set. */
TEST_F(StorageTest, WalkCreatesEveryPrefixOfARelativePath)
{
    struct Case {
        const char              *configured;
        std::vector<std::string> made;     /* directories that must exist afterwards */
        std::vector<std::string> not_made; /* and names that must not */
    };
    const Case cases[] = {
        {"D:/a/b/", {"D:", "D:/a", "D:/a/b"}, {}},
        {"D:\\a\\b\\", {"D:\\a\\b"}, {"D:\\a\\b\\", "D:\\a"}},
        {"x\\y/z", {"x\\y", "x\\y/z"}, {"x"}},
        {"p//q", {"p", "p/q"}, {}},
        {"single", {"single"}, {}},
        {"/", {}, {}},
    };
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    for (const Case &c : cases) {
        const std::string work = dir_ + "/w" + std::to_string(&c - cases);
        ASSERT_EQ(mkdir(work.c_str(), 0777), 0) << work;
        ASSERT_EQ(chdir(work.c_str()), 0) << work;
        setenv("KORRIN_STORAGE_DIR", c.configured, 1);
        kr_storage_reset();
        fake_engine_reset();
        EXPECT_EQ(kr_init_engine(), 0) << c.configured;
        for (const std::string &d : c.made)
            EXPECT_TRUE(is_dir(d)) << c.configured << ": " << d << " was not made";
        for (const std::string &d : c.not_made)
            EXPECT_FALSE(is_dir(d)) << c.configured << ": " << d << " was made";
        auto calls = fake_engine_calls();
        ASSERT_EQ(calls.size(), 1u) << c.configured;
        EXPECT_EQ(calls[0].args, std::vector<std::string>{c.configured}) << "the engine gets the path unchanged";
        kr_cleanup_engine();
        ASSERT_EQ(chdir(cwd), 0);
    }
}

TEST_F(StorageTest, FailedStartLeavesEngineStoppedAndRetries)
{
    setenv("KORRIN_STORAGE_DIR", dir_.c_str(), 1);
    fake_engine().init_result = 5;
    EXPECT_EQ(kr_init_engine(), -1);
    kr_cleanup_engine();
    EXPECT_EQ(fake_engine_trace(), "korrin_init") << "no cleanup of an engine that never started";
    fake_engine().init_result = 0;
    EXPECT_EQ(kr_init_engine(), 0);
    EXPECT_EQ(fake_engine_trace(), "korrin_init korrin_init");
}

TEST_F(StorageTest, PathTooLongForTheBufferIsRefusedNotCut)
{
    std::string fits = "/" + std::string(510, 'p');
    setenv("KORRIN_STORAGE_DIR", fits.c_str(), 1);
    EXPECT_EQ(kr_get_storage_dir(), fits);

    kr_storage_reset();
    std::string too_long = dir_ + "/" + std::string(520, 'p');
    setenv("KORRIN_STORAGE_DIR", too_long.c_str(), 1);
    EXPECT_EQ(kr_init_engine(), -1);
    EXPECT_EQ(fake_engine_trace(), "") << "the engine never sees a cut path";

    kr_storage_reset();
    unsetenv("KORRIN_STORAGE_DIR");
    setenv("TMPDIR", ("/" + std::string(500, 't')).c_str(), 1);
    EXPECT_EQ(kr_init_engine(), -1) << "a formatted fallback that does not fit";
    EXPECT_EQ(fake_engine_trace(), "");
}

} // namespace
