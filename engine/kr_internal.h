/*
 * Internal declarations of the korrin engine, shared by its sources and by
 * the engine's unit tests. Nothing here crosses the C interface (korrin.h):
 * failures travel as Status values and are turned into the last-error text
 * at the boundary, in korrin.cpp.
 *
 * The pieces:
 *   text.cpp      validation of uids and ids, JSON string escaping, UTF-8
 *   documents.cpp parsing and validating a batch body, the top-level
 *                 attributes of a document (its text: words.cpp)
 *   store.cpp     the SQLite database: opening, schema, catalog, writes
 *   search.cpp    the query path; ranking.cpp, typo.cpp and words.cpp
 *                 (kr_search.h) rank it, forgive typos and split words
 */
#ifndef KORRIN_INTERNAL_H
#define KORRIN_INTERNAL_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;
struct yyjson_doc;
struct yyjson_val;
struct yyjson_read_err;

namespace korrin {

// ---------------------------------------------------------------------------
// Status: success, or a whole-sentence message for the API's caller.
// ---------------------------------------------------------------------------
class [[nodiscard]] Status {
public:
    static Status ok() { return Status(); }
    static Status error(std::string message) { return Status(std::move(message)); }
    bool is_ok() const { return !failed_; }
    const std::string &message() const { return message_; }

private:
    Status() = default;
    explicit Status(std::string m) : failed_(true), message_(std::move(m)) {}
    bool failed_ = false;
    std::string message_;
};

// ---------------------------------------------------------------------------
// text.cpp
// ---------------------------------------------------------------------------
inline constexpr std::size_t kMaxUidBytes = 127;
inline constexpr std::size_t kMaxIdBytes = 511;

// True for 1..max bytes of ASCII letters, digits, '-' and '_'.
bool is_plain_name(std::string_view s, std::size_t max_bytes);

// Checks an index uid given by a caller (NULL allowed); the message names
// the value and the rule.
Status check_uid(const char *uid);

// A caller's text made safe to quote inside a message: at most ~80 bytes,
// invalid UTF-8 and control characters replaced by U+FFFD.
std::string shown(std::string_view s);

// True when s is well-formed UTF-8 (no overlongs, no surrogates).
bool is_valid_utf8(std::string_view s);

// Decodes UTF-8; an ill-formed byte becomes U+FFFD. decode_char reads the
// character at s[i] and advances i past it.
char32_t decode_char(std::string_view s, std::size_t &i);
std::u32string to_u32(std::string_view s);
// Characters in s, as to_u32(s).size() counts them, without building it.
std::size_t utf8_length(std::string_view s);
void append_utf8(std::string &out, char32_t c);

// Appends s as a JSON string literal (quotes included). Invalid UTF-8 is
// replaced by U+FFFD so the output is always valid JSON.
void append_json_string(std::string &out, std::string_view s);

// The current time as RFC 3339 UTC, e.g. "2026-09-06T12:00:00Z".
std::string now_rfc3339();

// ---------------------------------------------------------------------------
// documents.cpp
// ---------------------------------------------------------------------------

// A parsed JSON document, freed with it.
struct JsonDocFree {
    void operator()(yyjson_doc *doc) const;
};
using JsonDoc = std::unique_ptr<yyjson_doc, JsonDocFree>;

// A batch body, checked to be JSON. An array or NDJSON body is kept as the
// byte ranges of its documents in the caller's body, and each document is
// parsed again when asked for: a parse of the whole of a 100 MB body would
// hold a copy of it plus its values, twice the memory of the body itself.
// A single object is parsed once and kept.
class Batch {
public:
    Batch() = default;
    Batch(const Batch &) = delete;
    Batch &operator=(const Batch &) = delete;

    // Parses one document as the engine reads every one, sent or stored:
    // numbers kept as their text, so they are stored exactly as sent and
    // a stored document splits into the very words it was indexed with.
    // Empty when it is not JSON.
    static JsonDoc read(std::string_view text, yyjson_read_err *err = nullptr);

    // Reads the shape of body (array of objects, one object, or NDJSON).
    // The documents of an array or NDJSON are checked only when asked for: a NULL from
    // document() means the body is not valid JSON, and invalid() then says
    // where. body must outlive the Batch.
    Status parse(std::string_view body);

    std::size_t size() const { return whole_ ? docs_.size() : slices_.size(); }
    // Document i, parsed; valid until the next call. NULL when it is not
    // valid JSON (or memory ran out).
    yyjson_val *document(std::size_t i);
    // Why the body cannot be read, naming the byte and the document.
    Status invalid();

private:
    struct Slice {
        std::size_t offset, length;
    };
    Status parse_whole(std::string_view body, std::size_t start, bool check_lines);
    Status parse_lines(std::string_view body, bool check);

    std::string_view body_;
    std::size_t mark_ = 0;  // bytes of a byte order mark before body_, for error positions
    JsonDoc whole_;  // the single-object or fallback form
    std::vector<yyjson_val *> docs_;
    std::vector<Slice> slices_;
    JsonDoc current_;
    std::size_t current_index_ = 0;
};

// Infers the primary key of new index `uid` from its first document.
Status infer_primary_key(std::string_view uid, yyjson_val *first, std::string &primary_key);

// Checks document number `position` (counting from 1) and gives its id text.
Status document_id(yyjson_val *doc, std::string_view primary_key, std::size_t position,
                   std::string &id);

// The distinct top-level attribute names of a document, in document order.
std::vector<std::string_view> top_level_attributes(yyjson_val *doc);

// ---------------------------------------------------------------------------
// store.cpp: SQLite handles
// ---------------------------------------------------------------------------
struct DbCloser {
    void operator()(sqlite3 *db) const;
};
using DbHandle = std::unique_ptr<sqlite3, DbCloser>;

// A prepared statement with small typed helpers. step() returns true for a
// row, false when done; a failure leaves status() set, its message saying
// what failed in the words of `doing` ("searching") when given.
class Statement {
public:
    Statement() = default;
    Statement(sqlite3 *db, std::string_view sql, const char *doing = nullptr);
    ~Statement();
    Statement(Statement &&other) noexcept;
    Statement &operator=(Statement &&other) noexcept;
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool prepared() const { return stmt_ != nullptr; }
    Statement &bind(int i, std::string_view text);
    // The same for a string whose end SQLite may rely on, which spares it a
    // copy wherever the value is read as C text (FTS5 reads every column so).
    Statement &bind_terminated(int i, const std::string &text);
    Statement &bind(int i, std::int64_t value);
    Statement &bind_null(int i);
    bool step();
    Status run();  // steps to the end
    void reset();
    std::int64_t column_int(int i) const;
    std::string_view column_text(int i) const;
    const Status &status() const { return status_; }

private:
    sqlite3 *db_ = nullptr;
    sqlite3_stmt *stmt_ = nullptr;
    const char *doing_ = nullptr;
    Status status_ = Status::ok();
};

// One index as the catalog records it.
struct IndexInfo {
    std::int64_t id = 0;  // internal number; names the index's tables
    std::string uid;
    std::string primary_key;
    std::string created_at;
    std::string updated_at;
    std::int64_t document_count = 0;

    std::string documents_table() const { return "\"d_" + std::to_string(id) + "\""; }
    std::string fulltext_table() const { return "\"f_" + std::to_string(id) + "\""; }
    std::string fulltext_name() const { return "f_" + std::to_string(id); }
    std::string fields_table() const { return "\"a_" + std::to_string(id) + "\""; }
    std::string vocabulary_table() const { return "\"v_" + std::to_string(id) + "\""; }
};

// The open store of this process.
class Store {
public:
    Status open(const std::string &storage_dir);
    sqlite3 *db() const { return db_.get(); }

    // Looks an index up; `found` false when unknown.
    Status find_index(std::string_view uid, IndexInfo &info, bool &found);
    Status not_found(std::string_view uid) const;

    Status begin_read();
    Status begin_write();
    Status commit();
    void rollback();

    Status exec(const char *sql);

private:
    Status refusal(int version, std::int64_t tables) const;
    Status create_schema();
    DbHandle db_;
    std::string path_;
};

// A transaction begun on a store: rolled back unless committed, so every
// early return leaves no change (a read is simply never committed).
class Transaction {
public:
    explicit Transaction(Store &s) : s_(s) {}
    ~Transaction()
    {
        if (!done_) s_.rollback();
    }
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    Status commit()
    {
        done_ = true;
        return s_.commit();
    }

private:
    Store &s_;
    bool done_ = false;
};

// The common start of an operation on one index: checks the uid, begins a
// read or write transaction held by `tx`, and finds the index, with a
// message naming it when it is unknown.
Status open_index(Store &s, const char *uid, bool write, std::optional<Transaction> &tx, IndexInfo &info);

// Whether the index's texts have the current form (see kValueBreak): every
// index made since it exists, none made before.
Status has_current_form(Store &s, const IndexInfo &info, bool &current);

// Message for a failed SQLite call, as a sentence.
Status db_error(sqlite3 *db, std::string_view doing);

inline constexpr int kFormatVersion = 1;
// The full-text tokenizer of every index; the query path splits words with
// the same one, so both sides agree on what a word is.
inline constexpr const char *kTokenizerName = "unicode61";
inline constexpr const char *kTokenizer = "unicode61 remove_diacritics 2";
inline constexpr int kBusyTimeoutMs = 10000;

// ---------------------------------------------------------------------------
// Operations (store.cpp, search.cpp). Each runs its own transaction.
// ---------------------------------------------------------------------------
Status op_index_create(Store &s, const char *uid, const char *primary_key);
Status op_index_delete(Store &s, const char *uid);
Status op_indexes_list(Store &s, std::string &out);
Status op_index_stats(Store &s, const char *uid, std::string &out);
Status op_documents_add(Store &s, const char *uid, const char *body, std::int64_t &count);
Status op_document_get(Store &s, const char *uid, const char *id, std::string &out, bool &found);
Status op_document_delete(Store &s, const char *uid, const char *id);
Status op_search(Store &s, const char *uid, const char *query, std::int32_t limit,
                 std::int32_t offset, std::string &out);


}  // namespace korrin

#endif
