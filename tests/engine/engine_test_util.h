// Shared fixture of the engine tests: a fresh storage directory per test,
// the engine started on it, everything removed afterwards.
#ifndef KORRIN_ENGINE_TEST_UTIL_H
#define KORRIN_ENGINE_TEST_UTIL_H

#include "korrin.h"

#include <gtest/gtest.h>

#include <string>

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Adds a body and expects success; returns the count.
    int add(const char *uid, const std::string &body);
    // The last error, never null.
    static std::string error();
    // korrin_document_get as a string ("<null>" when absent).
    static std::string get(const char *uid, const char *id);

    std::string dir_;
};

// A unique empty directory under the system's temporary folder.
std::string make_temp_dir();
void remove_tree(const std::string &path);
std::string read_file(const std::string &path);

#endif
