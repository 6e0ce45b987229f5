// The start most word and ranking tests share: an in-memory database with
// the engine's word tokenizer open on it.
#ifndef KORRIN_TESTS_WITH_TOKENIZER_H
#define KORRIN_TESTS_WITH_TOKENIZER_H

#include "kr_search.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace korrin {

class WithTokenizer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
        ASSERT_TRUE(tok_.open(db_).is_ok());
    }
    void TearDown() override { sqlite3_close(db_); }

    void exec(const char *sql) { ASSERT_EQ(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql; }

    sqlite3 *db_ = nullptr;
    Tokenizer tok_;
};

}  // namespace korrin

#endif
