// Running out of memory on the thread that reads a big batch: the reader
// must neither kill the process (no exception may leave its thread or
// unwind through SQLite's tokenizer) nor hang the writer; the batch ends
// with a message instead. Its own program, as it replaces operator new.
#include "kr_search.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

namespace {

// Allocations on any thread but the test's own fail once armed: the first
// of at least kFailFrom bytes, and with `sticky` every one after it too.
std::atomic<bool> s_armed{false};
std::atomic<bool> s_sticky{false};
std::atomic<bool> s_failing{false};
std::thread::id s_main;
constexpr std::size_t kFailFrom = 1 << 20;

}  // namespace

void *operator new(std::size_t n)
{
    if (s_armed.load() && std::this_thread::get_id() != s_main) {
        if (s_failing.load() || n >= kFailFrom) {
            if (s_sticky.load()) s_failing.store(true);
            throw std::bad_alloc();
        }
    }
    if (void *p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }

namespace korrin {
namespace {

TEST(BatchReaderOutOfMemory, EndsTheBatchWithAMessage)
{
    s_main = std::this_thread::get_id();
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    Tokenizer tok;
    ASSERT_TRUE(tok.open(db).is_ok());
    // Enough distinct words that the batch's vocabulary table outgrows
    // kFailFrom while the reader fills it, inside the tokenizer's callback.
    std::string body = "[";
    for (int i = 0; i < 200000; ++i) {
        if (i) body += ',';
        body += "{\"id\":" + std::to_string(i) + ",\"t\":\"w" + std::to_string(i) + "\"}";
    }
    body += "]";
    for (bool sticky : {false, true}) {
        Batch batch;
        ASSERT_TRUE(batch.parse(body).is_ok());
        BatchReader reader(batch, "id", tok, true);
        s_failing = false;
        s_sticky = sticky;
        s_armed = true;
        reader.start();
        std::size_t read = 0;
        while (reader.next() != nullptr) ++read;
        s_armed = false;
        EXPECT_LT(read, 200000u) << "sticky " << sticky;
        EXPECT_EQ(reader.status().message(), "The batch cannot be read: the server is out of memory.")
            << "sticky " << sticky;
    }
    sqlite3_close(db);
}

}  // namespace
}  // namespace korrin
