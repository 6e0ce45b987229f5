// The store across processes: concurrent writers, a writer killed in the
// middle of a batch, damaged or newer store files, unusable directories.
#include "engine_test_util.h"

#include <sqlite3.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::string batch(int first, int count, const std::string &word)
{
    std::string body = "[";
    for (int i = first; i < first + count; ++i) {
        if (i > first) body += ',';
        body += "{\"id\":" + std::to_string(i) + ",\"title\":\"" + word + " number " + std::to_string(i) +
                "\",\"text\":\"" + std::string(200, 'x') + "\"}";
    }
    return body + "]";
}

// Runs fn in a child process with its own engine; returns the wait status.
template <class Fn>
pid_t spawn(const std::string &dir, Fn fn)
{
    pid_t pid = fork();
    if (pid == 0) {
        int code = 90;
        if (korrin_init(dir.c_str()) == 0)
            code = fn();
        else
            fprintf(stderr, "child init: %s\n", korrin_last_error());
        korrin_cleanup();
        _exit(code);
    }
    return pid;
}

long long document_count(const char *uid)
{
    const char *stats = korrin_index_stats_json(uid);
    if (!stats) return -1;
    const char *p = strstr(stats, "\"document_count\":");
    return p ? atoll(p + 17) : -1;
}

class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override { dir_ = make_temp_dir(); }
    void TearDown() override
    {
        korrin_cleanup();
        remove_tree(dir_);
    }
    std::string dir_;
};

// Writers start together on an empty directory: one creates the schema and
// the index, the others wait their turn; every batch is there afterwards.
TEST_F(ProcessTest, ConcurrentWritersAllLand)
{
    constexpr int kWriters = 6, kEach = 300;
    std::vector<pid_t> pids;
    for (int w = 0; w < kWriters; ++w)
        pids.push_back(spawn(dir_, [w] {
            if (korrin_documents_add("shared", batch(w * kEach, kEach, "writer").c_str()) == kEach) return 0;
            fprintf(stderr, "writer %d: %s\n", w, korrin_last_error());
            return 1;
        }));
    for (pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer status " << status;
    }
    ASSERT_EQ(korrin_init(dir_.c_str()), 0) << korrin_last_error();
    EXPECT_EQ(document_count("shared"), kWriters * kEach);
    for (int i = 0; i < kWriters * kEach; i += 97)
        EXPECT_NE(korrin_document_get("shared", std::to_string(i).c_str()), nullptr) << i;
    const char *r = korrin_search("shared", "writer", 0, 0);
    ASSERT_NE(r, nullptr);
    EXPECT_NE(strstr(r, "\"estimatedTotalHits\":"), nullptr);
}

// A writer killed at some instant of a large batch: the batch is either
// entirely there (it had committed) or entirely absent, and the store still
// reads and writes. The kill comes ever later until one lands mid-batch.
TEST_F(ProcessTest, KilledWriterLeavesNoPartOfItsBatch)
{
    ASSERT_EQ(korrin_init(dir_.c_str()), 0);
    ASSERT_EQ(korrin_documents_add("k", batch(0, 100, "before").c_str()), 100);
    korrin_cleanup();
    const std::string big = batch(50, 40000, "during");  // replaces 50..99, adds the rest
    int killed_midway = 0;
    for (int delay_ms = 20; delay_ms <= 5000 && killed_midway < 3; delay_ms *= 2) {
        pid_t pid = spawn(dir_, [&] { return korrin_documents_add("k", big.c_str()) == 40000 ? 0 : 1; });
        usleep(static_cast<useconds_t>(delay_ms) * 1000);
        kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_EQ(korrin_init(dir_.c_str()), 0) << korrin_last_error();
        long long n = document_count("k");
        const char *d60 = korrin_document_get("k", "60");
        ASSERT_NE(d60, nullptr);
        const char *r = korrin_search("k", "during", 0, 0);
        ASSERT_NE(r, nullptr);
        if (WIFSIGNALED(status) && n == 100) {
            ++killed_midway;
            EXPECT_NE(strstr(d60, "before"), nullptr) << d60;
            EXPECT_EQ(korrin_document_get("k", "140"), nullptr);
            EXPECT_NE(strstr(r, "\"estimatedTotalHits\":0"), nullptr) << r;
        } else {
            EXPECT_EQ(n, 40050) << "delay " << delay_ms << " status " << status;
            EXPECT_NE(strstr(d60, "during"), nullptr) << d60;
            EXPECT_NE(korrin_document_get("k", "140"), nullptr);
            // Start again from the state before the batch.
            ASSERT_EQ(korrin_index_delete("k"), 0);
            ASSERT_EQ(korrin_documents_add("k", batch(0, 100, "before").c_str()), 100);
        }
        EXPECT_EQ(korrin_documents_add("k", R"({"id":"after"})"), 1) << korrin_last_error();
        EXPECT_EQ(korrin_document_delete("k", "after"), 0);
        korrin_cleanup();
    }
    EXPECT_GT(killed_midway, 0) << "no kill landed before the batch committed";
}

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// A damaged store file: korrin_init fails with a message and leaves the
// bytes alone.
TEST_F(ProcessTest, DamagedStoreIsRefusedUntouched)
{
    ASSERT_EQ(korrin_init(dir_.c_str()), 0);
    ASSERT_EQ(korrin_documents_add("m", batch(0, 50, "x").c_str()), 50);
    korrin_cleanup();
    const std::string db = dir_ + "/korrin.db";
    sqlite3 *raw = nullptr;  // fold the WAL into the main file
    ASSERT_EQ(sqlite3_open(db.c_str(), &raw), SQLITE_OK);
    sqlite3_exec(raw, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    sqlite3_close(raw);
    const std::string good = read_file(db);
    ASSERT_GT(good.size(), 8192u);

    struct Case {
        const char *name;
        std::string bytes;
    } cases[] = {
        {"text file", std::string(5000, 'z')},
        {"header only", good.substr(0, 100)},
        {"bad header magic", "SQLite format 2" + good.substr(15)},
        {"garbage schema page", good.substr(0, 100) + std::string(good.size() - 100, '\x5a')},
    };
    for (const auto &c : cases) {
        remove((db + "-wal").c_str());
        remove((db + "-shm").c_str());
        write_file(db, c.bytes);
        EXPECT_NE(korrin_init(dir_.c_str()), 0) << c.name;
        std::string message = korrin_last_error();
        EXPECT_NE(message.find("korrin.db"), std::string::npos) << c.name << ": " << message;
        korrin_cleanup();
        EXPECT_EQ(read_file(db), c.bytes) << c.name << " was modified";
    }
    // A database of another program is not taken over either.
    remove(db.c_str());
    ASSERT_EQ(sqlite3_open(db.c_str(), &raw), SQLITE_OK);
    sqlite3_exec(raw, "CREATE TABLE theirs(x)", nullptr, nullptr, nullptr);
    sqlite3_close(raw);
    const std::string theirs = read_file(db);
    EXPECT_NE(korrin_init(dir_.c_str()), 0);
    EXPECT_NE(std::string(korrin_last_error()).find("another program"), std::string::npos) << korrin_last_error();
    korrin_cleanup();
    // Not even its journal mode: a switch to WAL rewrites the file's header.
    EXPECT_EQ(read_file(db), theirs) << "the other program's database was modified";
}

TEST_F(ProcessTest, NewerFormatIsRefusedUntouched)
{
    ASSERT_EQ(korrin_init(dir_.c_str()), 0);
    ASSERT_EQ(korrin_documents_add("m", R"({"id":1})"), 1);
    korrin_cleanup();
    const std::string db = dir_ + "/korrin.db";
    sqlite3 *raw = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &raw), SQLITE_OK);
    sqlite3_exec(raw, "PRAGMA user_version=7; PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    sqlite3_close(raw);
    const std::string before = read_file(db);
    EXPECT_NE(korrin_init(dir_.c_str()), 0);
    EXPECT_NE(std::string(korrin_last_error()).find("format version 7, newer"), std::string::npos)
        << korrin_last_error();
    korrin_cleanup();
    EXPECT_EQ(read_file(db), before);
}

TEST_F(ProcessTest, UnusableDirectoriesFailCleanly)
{
    const std::string file = dir_ + "/plain-file";
    write_file(file, "x");
    struct Case {
        std::string dir;
        const char *message;
    } cases[] = {
        {file, "is not a directory"},
        {file + "/below", "cannot be created"},
    };
    for (const auto &c : cases) {
        EXPECT_NE(korrin_init(c.dir.c_str()), 0) << c.dir;
        EXPECT_NE(std::string(korrin_last_error()).find(c.message), std::string::npos)
            << c.dir << ": " << korrin_last_error();
    }
    // Missing parents are created.
    const std::string nested = dir_ + "/a/b/c";
    EXPECT_EQ(korrin_init(nested.c_str()), 0) << korrin_last_error();
    EXPECT_EQ(korrin_init(nested.c_str()), 0);  // again while started
    korrin_cleanup();
    if (geteuid() != 0) {  // root writes anywhere
        const std::string locked = dir_ + "/locked";
        ASSERT_EQ(mkdir(locked.c_str(), 0500), 0);
        EXPECT_NE(korrin_init(locked.c_str()), 0);
        EXPECT_NE(std::string(korrin_last_error()).find("not writable"), std::string::npos) << korrin_last_error();
        chmod(locked.c_str(), 0700);
    }
}

}  // namespace
