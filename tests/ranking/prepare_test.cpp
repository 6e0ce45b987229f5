// Reading a batch ahead of the writer: a big batch is read on a second
// thread, a small one in line, and both must hand the writer the same
// documents, words and attribute counts, and stop at the same fault.
#include "with_tokenizer.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <memory>
#include <set>

namespace korrin {
namespace {

struct Read {
    std::vector<std::string> ids, bodies, first_columns;
    std::set<std::string> words;
    std::map<std::string, std::int64_t> fields;
    std::string error;  // empty when every document was read
};

class BatchReaderTest : public WithTokenizer {
protected:
    Read read_all(const std::string &body)
    {
        Read out;
        Batch batch;
        Status parsed = batch.parse(body);
        EXPECT_TRUE(parsed.is_ok()) << parsed.message();
        BatchReader reader(batch, "id", tok_, true);
        reader.start();
        while (const PreparedDocument *d = reader.next()) {
            out.ids.push_back(d->id);
            out.bodies.push_back(d->body);
            out.first_columns.push_back(d->text[0]);
        }
        EXPECT_EQ(reader.next(), nullptr) << "the end stays the end";
        if (!reader.status().is_ok()) out.error = reader.status().message();
        for (std::string_view w : reader.terms().terms()) out.words.emplace(w);
        out.fields.insert(reader.fields().begin(), reader.fields().end());
        return out;
    }

};

// n documents, as an array or as NDJSON; document `bad` (counting from 1)
// replaced by `fault` when given.
std::string batch_of(int n, bool ndjson, int bad = 0, const std::string &fault = "")
{
    std::string body = ndjson ? "" : "[";
    for (int i = 1; i <= n; ++i) {
        if (i > 1) body += ndjson ? "\n" : ",";
        if (i == bad) {
            body += fault;
            continue;
        }
        body += "{\"id\":" + std::to_string(i) + ",\"title\":\"Title w" + std::to_string(i % 97) + "\"";
        if (i % 3 == 0) body += ",\"tags\":[\"x" + std::to_string(i % 5) + "\", 7]";
        body += ",\"n\":  1.50}";
    }
    return body + (ndjson ? "\n" : "]");
}

TEST_F(BatchReaderTest, BigAndSmallBatchesReadAlike)
{
    for (bool ndjson : {false, true}) {
        // 1000 documents cross many chunks of the reading thread; their
        // first 100 read in line must be its first 100.
        Read big = read_all(batch_of(1000, ndjson));
        Read small = read_all(batch_of(100, ndjson));
        ASSERT_EQ(big.error, "");
        ASSERT_EQ(big.ids.size(), 1000u);
        for (std::size_t i = 0; i < big.ids.size(); ++i) ASSERT_EQ(big.ids[i], std::to_string(i + 1));
        EXPECT_EQ(std::vector<std::string>(big.bodies.begin(), big.bodies.begin() + 100), small.bodies);
        EXPECT_EQ(big.bodies[2], R"({"id":3,"title":"Title w3","tags":["x3",7],"n":1.50})");
        EXPECT_EQ(big.first_columns[0], "Title w1");
        EXPECT_EQ(big.fields, (std::map<std::string, std::int64_t>{{"id", 1000}, {"n", 1000}, {"tags", 333}, {"title", 1000}}));
        EXPECT_EQ(small.fields.at("tags"), 33);
        EXPECT_EQ(big.words.size(), 1u + 97 + 5) << "title, w0..w96, x0..x4: numbers are not text";
        EXPECT_TRUE(big.words.count("w96") && big.words.count("x4") && !small.words.count("w99"));
    }
}

// Big documents close a chunk early and give their slot's memory back:
// the documents after them must come through whole and in order.
TEST_F(BatchReaderTest, BigDocumentsPassThroughWhole)
{
    std::string body = "[";
    for (int i = 1; i <= 300; ++i) {
        if (i > 1) body += ',';
        const std::size_t size = i % 7 == 0 ? 300000 : 10;  // a third of a MB now and then
        body += "{\"id\":" + std::to_string(i) + ",\"t\":\"w" + std::to_string(i) + " " + std::string(size, 'x') + "\"}";
    }
    body += "]";
    Read r = read_all(body);
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.ids.size(), 300u);
    for (int i = 1; i <= 300; ++i) {
        const std::size_t size = i % 7 == 0 ? 300000 : 10;
        ASSERT_EQ(r.ids[i - 1], std::to_string(i));
        ASSERT_EQ(r.first_columns[i - 1], "w" + std::to_string(i) + " " + std::string(size, 'x')) << i;
    }
    EXPECT_TRUE(r.words.count("w300") && r.words.count(std::string(300000, 'x')));
}

// A fault ends the batch at the faulty document, with the same message
// whichever way it was read; what came before was handed out in order.
TEST_F(BatchReaderTest, StopsAtTheFirstFaultyDocument)
{
    struct Case {
        bool ndjson;
        std::string fault;
        std::string message;
    } cases[] = {
        {false, "{\"title\":\"no id\"}", "Document 700 of the batch has no primary key attribute `id`."},
        {false, "[1]", "Document 700 of the batch is not a JSON object."},
        {false, "{\"id\":\"a b\"}", "Document 700 of the batch has an invalid primary key value"},
        {true, "{\"id\":700,", "Line 700 of the body is not valid JSON"},
        {true, "{\"id\":700}}", "Line 700 of the body is not valid JSON"},
    };
    for (const Case &c : cases)
        for (int n : {1000, 701}) {
            Read r = read_all(batch_of(n, c.ndjson, 700, c.fault));
            EXPECT_EQ(r.ids.size(), 699u) << c.fault;
            EXPECT_NE(r.error.find(c.message), std::string::npos) << c.fault << "\n got: " << r.error;
        }
}

// The writer may give up at any document (a full disk, say): the reader
// must stop with it, never hang waiting for room to read further.
TEST_F(BatchReaderTest, WriterMayStopEarly)
{
    const std::string body = batch_of(5000, false);
    for (int taken : {0, 1, 64, 65, 700}) {
        Batch batch;
        ASSERT_TRUE(batch.parse(body).is_ok());
        BatchReader reader(batch, "id", tok_, true);
        reader.start();
        for (int i = 0; i < taken; ++i) ASSERT_NE(reader.next(), nullptr) << i;
    }
}

}  // namespace
}  // namespace korrin
