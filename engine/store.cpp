/*
 * The store: one SQLite database, <storage_dir>/korrin.db, in WAL mode with
 * full synchronous commits and 16 KB pages, shared by every process of the
 * service.
 *
 * Workload: each process opens the store, runs one operation and exits,
 * while others do the same. Opening therefore does only what it must: open
 * the file, read the format version from the header page and load the
 * schema (a few rows per index). No work grows with the number of documents.
 *
 * Layout, all table names derived from the catalog's integer id of an index
 * (never from its uid, so table names stay plain and two uids differing only
 * in case never meet in SQLite's case-insensitive name space):
 *   kr_index  the catalog: uid, primary key, times, document count
 *   d_N       documents: seq (listing order, kept on replace), id, body
 *   f_N       contentless FTS5 table, rowid = seq, the document's string
 *             values in kTextColumns columns by attribute place (see
 *             column_texts), with a prefix index for 2 characters
 *   v_N       vocabulary: every distinct word of the index, for typos and
 *             prefixes (words of deleted documents stay; harmless)
 *   a_N       field distribution: attribute name -> documents having it
 *
 * Every change runs in one BEGIN IMMEDIATE transaction; writers queue on the
 * busy timeout, readers see a snapshot and never wait.
 */
#include "kr_search.h"

#include <sqlite3.h>
#include <yyjson.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace korrin {

// ---------------------------------------------------------------------------
// Handles
// ---------------------------------------------------------------------------
// The last connection to close folds the WAL into the file and deletes it
// and its index, and the next process creates both again and recovers an
// empty log: a lock round, two unlinks and two file creations on every read
// request. A connection that leaves the log empty therefore leaves the files
// in place. A log that holds frames is still folded (by whichever connection
// closes last), so at most one process recovers a leftover log.
void DbCloser::operator()(sqlite3 *db) const
{
    if (const char *file = sqlite3_db_filename(db, "main"); file && *file) {
        struct stat st{};
        if (::stat(sqlite3_filename_wal(file), &st) == 0 && st.st_size == 0)
            sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    }
    sqlite3_close_v2(db);
}

Status db_error(sqlite3 *db, std::string_view doing)
{
    int code = db ? sqlite3_extended_errcode(db) : SQLITE_ERROR;
    std::string msg = db ? sqlite3_errmsg(db) : "unknown error";
    if ((code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED)
        return Status::error("The store is busy: " + std::string(doing) +
                             " waited too long for other writers. Try again.");
    if ((code & 0xff) == SQLITE_FULL)
        return Status::error("The disk is full: " + std::string(doing) + " failed.");
    if ((code & 0xff) == SQLITE_CORRUPT || (code & 0xff) == SQLITE_NOTADB)
        return Status::error("The store is corrupt: " + std::string(doing) + " failed (" + msg + ").");
    return Status::error("The store failed while " + std::string(doing) + " (" + msg + ").");
}

Statement::Statement(sqlite3 *db, std::string_view sql, const char *doing) : db_(db), doing_(doing)
{
    if (sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), 0, &stmt_, nullptr) != SQLITE_OK) {
        status_ = db_error(db, doing ? doing : "preparing a query");
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement::Statement(Statement &&o) noexcept
    : db_(o.db_), stmt_(std::exchange(o.stmt_, nullptr)), doing_(o.doing_), status_(std::move(o.status_))
{
}

Statement &Statement::operator=(Statement &&o) noexcept
{
    if (this != &o) {
        sqlite3_finalize(stmt_);
        db_ = o.db_;
        stmt_ = std::exchange(o.stmt_, nullptr);
        doing_ = o.doing_;
        status_ = std::move(o.status_);
    }
    return *this;
}

// Texts are bound without a copy: the caller keeps them alive until the
// statement has been stepped.
Statement &Statement::bind(int i, std::string_view text)
{
    if (stmt_) sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
    return *this;
}

Statement &Statement::bind_terminated(int i, const std::string &text)
{
    // A negative length tells SQLite the text ends at its first NUL; a text
    // holding one (JSON allows \u0000) is bound by its length instead.
    if (std::memchr(text.data(), 0, text.size()) != nullptr) return bind(i, std::string_view(text));
    if (stmt_) sqlite3_bind_text(stmt_, i, text.c_str(), -1, SQLITE_STATIC);
    return *this;
}

Statement &Statement::bind(int i, std::int64_t value)
{
    if (stmt_) sqlite3_bind_int64(stmt_, i, value);
    return *this;
}

Statement &Statement::bind_null(int i)
{
    if (stmt_) sqlite3_bind_null(stmt_, i);
    return *this;
}

bool Statement::step()
{
    if (!stmt_) return false;
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) status_ = db_error(db_, doing_ ? doing_ : "running a query");
    return false;
}

Status Statement::run()
{
    while (step()) {
    }
    Status s = status_;
    reset();
    return s;
}

void Statement::reset()
{
    if (stmt_) {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
}

std::int64_t Statement::column_int(int i) const { return sqlite3_column_int64(stmt_, i); }

std::string_view Statement::column_text(int i) const
{
    const unsigned char *p = sqlite3_column_text(stmt_, i);
    if (!p) return {};
    return {reinterpret_cast<const char *>(p), static_cast<std::size_t>(sqlite3_column_bytes(stmt_, i))};
}

// ---------------------------------------------------------------------------
// Opening
// ---------------------------------------------------------------------------
namespace {

// mkdir -p: every missing parent is created. Only '/' separates.
Status make_directories(const std::string &dir)
{
    std::string path;
    std::size_t pos = 0;
    while (pos <= dir.size()) {
        std::size_t next = dir.find('/', pos);
        if (next == std::string::npos) next = dir.size();
        path = dir.substr(0, next);
        pos = next + 1;
        if (path.empty()) continue;
        if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
            return Status::error("The storage directory `" + shown(dir) + "` cannot be created: " +
                                 std::strerror(errno) + ".");
    }
    struct stat st{};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return Status::error("The storage directory `" + shown(dir) + "` is not a directory.");
    if (::access(dir.c_str(), W_OK | X_OK) != 0)
        return Status::error("The storage directory `" + shown(dir) + "` is not writable: " +
                             std::strerror(errno) + ".");
    return Status::ok();
}

const char *const kSchema =
    "CREATE TABLE kr_index("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " uid TEXT NOT NULL UNIQUE,"
    " primary_key TEXT NOT NULL,"
    " created_at TEXT NOT NULL,"
    " updated_at TEXT NOT NULL,"
    " document_count INTEGER NOT NULL DEFAULT 0);";

}  // namespace

Status Store::exec(const char *sql)
{
    if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        return db_error(db_.get(), "updating the store");
    return Status::ok();
}

Status Store::open(const std::string &storage_dir)
{
    if (storage_dir.empty()) return Status::error("A storage directory is required.");
    path_ = storage_dir;
    if (path_.back() != '/') path_ += '/';
    path_ += "korrin.db";

    // An existing store proves its directory, so it costs one stat and no
    // walk; anything else (a new or missing directory, a path through a file)
    // takes the walk, which creates what is missing and names what is wrong.
    struct stat file{};
    const bool existing = ::stat(path_.c_str(), &file) == 0;
    if (!existing) {
        if (Status s = make_directories(storage_dir); !s.is_ok()) return s;
    } else if (S_ISREG(file.st_mode) && file.st_size > 0 && file.st_size < 512) {
        // SQLite takes a file of 1 to 15 bytes for a new, empty database and
        // would start the store afresh over it: every index and document
        // silently gone. A real database is at least one 512-byte page; an
        // empty file is a store whose creation never got going.
        return Status::error("The store `" + shown(path_) + "` is unreadable or corrupt (it is only " +
                             std::to_string(file.st_size) + " bytes long); it was left untouched.");
    }
    // A failure past the fast path may come from the directory (no longer
    // writable, say): its own message says more than SQLite's.
    auto directory_first = [&](Status s) {
        db_.reset();
        if (existing)
            if (Status d = make_directories(storage_dir); !d.is_ok()) return d;
        return s;
    };

    // Process-wide settings, refused (harmlessly) once SQLite is initialised.
    // One process, one thread (korrin.h): SQLite's mutexes and memory
    // statistics are a tenth of a fetch's instructions and guard nothing.
    // (A big batch's reader thread, prepare.cpp, calls only the word
    // tokenizer, whose allocations go straight to malloc once memory
    // statistics are off: nothing of SQLite's state is shared.)
    // The page cache is allocated on demand: an operation touches a handful
    // of pages, and SQLite's up-front block of twenty costs as many page
    // faults at every process start.
    sqlite3_config(SQLITE_CONFIG_SINGLETHREAD);
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);

    sqlite3 *raw = nullptr;
    int rc = sqlite3_open_v2(path_.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    db_.reset(raw);
    if (rc != SQLITE_OK)
        return directory_first(Status::error("The store `" + shown(path_) + "` cannot be opened (" +
                                             (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)) + ")."));
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);

    auto unreadable = [&](std::string_view why) {
        return directory_first(Status::error("The store `" + shown(path_) + "` is unreadable or corrupt (" +
                                             std::string(why) + ")."));
    };
    // The version and the schema are read in one snapshot: one round of
    // locks instead of one per statement.
    if (sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) return unreadable(sqlite3_errmsg(raw));
    int version = 0;
    {
        Statement st(raw, "PRAGMA user_version");
        if (!st.step()) return unreadable(sqlite3_errmsg(raw));
        version = static_cast<int>(st.column_int(0));
    }
    std::int64_t tables = 0;
    if (version == 0) {
        // Another program's database must be refused before the switch to
        // WAL, which would change the file.
        Statement count(raw, "SELECT count(*) FROM sqlite_master");
        if (!count.step()) return unreadable(sqlite3_errmsg(raw));
        tables = count.column_int(0);
    }
    if (Status s = refusal(version, tables); !s.is_ok()) {
        rollback();
        db_.reset();
        return s;
    }
    if (version != 0) {
        // Loads the schema now, so a damaged one fails here and not later.
        Statement probe(raw, "SELECT 1 FROM kr_index LIMIT 0");
        if (!probe.prepared()) return unreadable(sqlite3_errmsg(raw));
    }
    rollback();  // only read
    if (version == 0) {
        if (Status s = create_schema(); !s.is_ok()) {
            db_.reset();
            return s;
        }
    }
    return Status::ok();
}

// Why a store must be left untouched, if it must: a newer format, or a
// database of another program (no format version, yet tables). Checked on
// the first look and again under the write lock.
Status Store::refusal(int version, std::int64_t tables) const
{
    if (version > kFormatVersion)
        return Status::error("The store `" + shown(path_) + "` has format version " + std::to_string(version) +
                             ", newer than this engine understands (" + std::to_string(kFormatVersion) +
                             "); it was left untouched.");
    if (version == 0 && tables != 0)
        return Status::error("The file `" + shown(path_) + "` is a database of another program; it was "
                             "left untouched.");
    return Status::ok();
}

// Many processes may start at once on an empty directory: the version is
// checked again once the write lock is held, and only one creates the schema.
Status Store::create_schema()
{
    sqlite3 *raw = db_.get();
    // 16 KB pages, set while the file is still empty (later, and in WAL
    // mode, SQLite ignores it): the full-text index is written as blobs of
    // about 4 KB, and larger pages take fewer system calls and B-tree steps
    // to write them. A million documents went in 15-20% faster here
    // (bench/search load); searches read a little more per page they touch,
    // 0-40% slower and still far under 20 ms. A store made with other pages
    // keeps them.
    if (sqlite3_exec(raw, "PRAGMA page_size=16384", nullptr, nullptr, nullptr) != SQLITE_OK)
        return Status::error("The store `" + shown(path_) + "` cannot be prepared (" + sqlite3_errmsg(raw) + ").");
    // WAL is persistent; it is set once, outside any transaction. Switching
    // needs the file to itself and SQLite may report "busy" without waiting
    // when processes start together, so the attempt is repeated here.
    for (int waited_ms = 0;; waited_ms += 10) {
        Statement wal(raw, "PRAGMA journal_mode=WAL");
        if (wal.step()) break;
        int code = sqlite3_errcode(raw);
        if ((code != SQLITE_BUSY && code != SQLITE_LOCKED) || waited_ms >= kBusyTimeoutMs)
            return Status::error("The store `" + shown(path_) + "` cannot be prepared (" +
                                 sqlite3_errmsg(raw) + ").");
        wal = Statement();
        sqlite3_sleep(10);
    }
    if (Status s = begin_write(); !s.is_ok()) return s;
    // Failures are kept before the rollback, which would replace SQLite's
    // message with its own.
    Statement version(raw, "PRAGMA user_version", "reading the format version");
    int v = version.step() ? static_cast<int>(version.column_int(0)) : -1;
    if (v != 0) {
        Status s = v < 0 ? version.status() : refusal(v, 0);  // v > 0: created meanwhile by another process
        version = Statement();
        rollback();
        return s;
    }
    version = Statement();
    Statement tables(raw, "SELECT count(*) FROM sqlite_master", "reading the schema");
    std::int64_t n = tables.step() ? tables.column_int(0) : -1;
    if (n != 0) {
        Status s = n < 0 ? tables.status() : refusal(0, n);
        tables = Statement();
        rollback();
        return s;
    }
    tables = Statement();
    if (Status s = exec(kSchema); !s.is_ok()) {
        rollback();
        return s;
    }
    std::string set_version = "PRAGMA user_version=" + std::to_string(kFormatVersion);
    if (Status s = exec(set_version.c_str()); !s.is_ok()) {
        rollback();
        return s;
    }
    return commit();
}

Status Store::begin_read()
{
    if (sqlite3_exec(db_.get(), "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return db_error(db_.get(), "starting to read");
    return Status::ok();
}

Status Store::begin_write()
{
    // A writer checks each page's cells as it loads the page, so a page whose
    // cells were overwritten is found damaged and nothing is written into
    // it: without the check, an add into such a page was acknowledged and
    // the document could not be read back. Readers go without: the check
    // cost a fetch 13% of its instructions, and reading changes nothing.
    // synchronous is per connection too; FULL makes every commit durable in
    // WAL; readers, which never commit, skip both pragmas. They come before
    // any statement of the change is prepared: SQLite would prepare again a
    // statement made before a flag pragma.
    if (sqlite3_exec(db_.get(), "PRAGMA synchronous=FULL; PRAGMA cell_size_check=ON; BEGIN IMMEDIATE", nullptr,
                     nullptr, nullptr) != SQLITE_OK)
        return db_error(db_.get(), "starting a change");
    return Status::ok();
}

Status Store::commit()
{
    if (sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        Status s = db_error(db_.get(), "committing a change");
        rollback();
        return s;
    }
    return Status::ok();
}

void Store::rollback()
{
    if (!sqlite3_get_autocommit(db_.get())) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

Status Store::find_index(std::string_view uid, IndexInfo &info, bool &found)
{
    Statement st(db_.get(),
                 "SELECT id, uid, primary_key, created_at, updated_at, document_count FROM kr_index WHERE uid=?1");
    st.bind(1, uid);
    found = st.step();
    if (!st.status().is_ok()) return st.status();
    if (found) {
        info.id = st.column_int(0);
        info.uid = st.column_text(1);
        info.primary_key = st.column_text(2);
        info.created_at = st.column_text(3);
        info.updated_at = st.column_text(4);
        info.document_count = st.column_int(5);
    }
    return Status::ok();
}

Status Store::not_found(std::string_view uid) const
{
    return Status::error("Index `" + std::string(uid) + "` not found.");
}

// The common start of an operation on one index: checks the uid, begins a
// transaction (read or write) held by `tx`, and finds the index, failing
// with a message that names it when it is unknown. On failure, `tx` rolls
// back as the caller returns.
Status open_index(Store &s, const char *uid, bool write, std::optional<Transaction> &tx, IndexInfo &info)
{
    if (Status st = check_uid(uid); !st.is_ok()) return st;
    if (Status st = write ? s.begin_write() : s.begin_read(); !st.is_ok()) return st;
    tx.emplace(s);
    bool found = false;
    if (Status st = s.find_index(uid, info, found); !st.is_ok()) return st;
    if (!found) return s.not_found(uid);
    return Status::ok();
}

Status has_current_form(Store &s, const IndexInfo &info, bool &current)
{
    Statement sel(s.db(), "SELECT 1 FROM " + info.vocabulary_table() + " WHERE term = ''");
    current = sel.step();
    return sel.status();
}

// ---------------------------------------------------------------------------
// Operations
// ---------------------------------------------------------------------------
namespace {

// FTS5's in-memory hash of pending words: when it holds more, it is written
// out as a new segment. See create_index and op_documents_add.
constexpr std::int64_t kHashSize = 8 << 20;
constexpr std::int64_t kBigBatchHashSize = 16 << 20;

Status set_hash_size(Store &s, const IndexInfo &info, std::int64_t bytes)
{
    Statement st(s.db(), "INSERT INTO " + info.fulltext_table() + "(" + info.fulltext_name() +
                             ", rank) VALUES('hashsize', ?1)");
    st.bind(1, bytes);
    return st.run();
}

Status create_index(Store &s, std::string_view uid, std::string_view primary_key, IndexInfo &info)
{
    std::string now = now_rfc3339();
    Statement ins(s.db(), "INSERT INTO kr_index(uid, primary_key, created_at, updated_at) VALUES(?1,?2,?3,?3)");
    ins.bind(1, uid).bind(2, primary_key).bind(3, std::string_view(now));
    if (Status st = ins.run(); !st.is_ok()) return st;
    info.id = sqlite3_last_insert_rowid(s.db());
    info.uid = uid;
    info.primary_key = primary_key;
    info.created_at = now;
    info.updated_at = now;
    info.document_count = 0;
    std::string sql = "CREATE TABLE " + info.documents_table() +
                      "(seq INTEGER PRIMARY KEY, id TEXT NOT NULL UNIQUE, body TEXT NOT NULL);"
                      "CREATE VIRTUAL TABLE " + info.fulltext_table() +
                      " USING fts5(" + fulltext_columns() + ", content='', columnsize=0, prefix='2', tokenize='" + std::string(kTokenizer) +
                      "');"
                      // A big batch fills FTS5's in-memory hash many times; at the
                      // default 1 MB each flush writes a small segment that is merged
                      // again soon after. 8 MB took a third off the CPU of a 100 MB
                      // batch here (bench/budget); larger tables lose it again to
                      // cache misses.
                      "INSERT INTO " + info.fulltext_table() + "(" + info.fulltext_name() +
                      ", rank) VALUES('hashsize', " + std::to_string(kHashSize) + ");"
                      // FTS5 merges segments once 4 of a size have piled up, so
                      // every word is rewritten again and again as an index grows:
                      // on a million documents, merging was the writer's largest
                      // cost after the hash itself. Merging at 8 added the million
                      // (in batches of 100,000) 15-20% faster; searches read more
                      // segments for it, 0-30% slower and still far under 20 ms
                      // (bench/search).
                      "INSERT INTO " + info.fulltext_table() + "(" + info.fulltext_name() +
                      ", rank) VALUES('automerge', 8);"
                      "CREATE TABLE " + info.fields_table() +
                      "(name TEXT PRIMARY KEY, count INTEGER NOT NULL) WITHOUT ROWID;"
                      "CREATE TABLE " + info.vocabulary_table() + "(term TEXT PRIMARY KEY) WITHOUT ROWID;"
                      // This index's texts have the current form (see kValueBreak).
                      "INSERT INTO " + info.vocabulary_table() + "(term) VALUES('');";
    return s.exec(sql.c_str());
}

// Removes a row from the contentless full-text table: ?1 its rowid, then
// the exact texts it was inserted with, one per column.
Statement fulltext_delete(Store &s, const IndexInfo &info)
{
    return Statement(s.db(), "INSERT INTO " + info.fulltext_table() + "(" + info.fulltext_name() + ", rowid, " +
                                 fulltext_columns() + ") VALUES('delete', ?1, ?2, ?3, ?4, ?5)");
}

// Removes one stored document's words and attributes from the index tables.
// The full-text row goes with the exact text it was inserted with.
Status forget_document(Statement &fts_delete, std::int64_t seq, std::string_view body, bool current_form,
                       std::string (&text)[kTextColumns],
                       std::unordered_map<std::string, std::int64_t> &fields)
{
    // Read as on the way in, so it splits into the words it was indexed with.
    const JsonDoc old = Batch::read(body);
    if (!old) return Status::error("The store is corrupt: a stored document is not valid JSON.");
    yyjson_val *root = yyjson_doc_get_root(old.get());
    column_texts(root, text, current_form);
    fts_delete.bind(1, seq);
    for (int c = 0; c < kTextColumns; ++c) fts_delete.bind_terminated(c + 2, text[c]);
    if (Status st = fts_delete.run(); !st.is_ok()) return st;
    for (std::string_view key : top_level_attributes(root)) fields[std::string(key)] -= 1;
    return Status::ok();
}

// Adds the words of a batch to the index's vocabulary (sorted first, so
// the inserts walk the table's b-tree in order).
Status add_vocabulary(Store &s, const IndexInfo &info, const TermSet &terms)
{
    std::vector<std::string_view> sorted = terms.terms();
    std::sort(sorted.begin(), sorted.end());
    Statement ins(s.db(), "INSERT OR IGNORE INTO " + info.vocabulary_table() + "(term) VALUES(?1)");
    for (std::string_view t : sorted) {
        ins.bind(1, t);
        if (Status st = ins.run(); !st.is_ok()) return st;
    }
    return Status::ok();
}

Status apply_fields(Store &s, const IndexInfo &info,
                    const std::unordered_map<std::string, std::int64_t> &fields)
{
    Statement up(s.db(), "INSERT INTO " + info.fields_table() +
                             "(name, count) VALUES(?1, ?2) "
                             "ON CONFLICT(name) DO UPDATE SET count = count + excluded.count");
    for (const auto &[name, delta] : fields) {
        if (delta == 0) continue;
        up.bind(1, std::string_view(name)).bind(2, delta);
        if (Status st = up.run(); !st.is_ok()) return st;
    }
    Statement drop(s.db(), "DELETE FROM " + info.fields_table() + " WHERE count <= 0");
    return drop.run();
}

Status touch_index(Store &s, const IndexInfo &info, std::int64_t count_delta)
{
    std::string now = now_rfc3339();
    Statement up(s.db(), "UPDATE kr_index SET document_count = document_count + ?2, updated_at = ?3 WHERE id = ?1");
    up.bind(1, info.id).bind(2, count_delta).bind(3, std::string_view(now));
    return up.run();
}

}  // namespace

Status op_index_create(Store &s, const char *uid, const char *primary_key)
{
    if (Status st = check_uid(uid); !st.is_ok()) return st;
    if (primary_key == nullptr || *primary_key == '\0')
        return Status::error("The primary key of index `" + std::string(uid) + "` must not be empty.");
    if (!is_valid_utf8(primary_key))
        return Status::error("The primary key of index `" + std::string(uid) + "` is not valid UTF-8.");
    if (Status st = s.begin_write(); !st.is_ok()) return st;
    Transaction tx(s);
    IndexInfo info;
    bool found = false;
    if (Status st = s.find_index(uid, info, found); !st.is_ok()) return st;
    if (found) return Status::error("Index `" + std::string(uid) + "` already exists.");
    if (Status st = create_index(s, uid, primary_key, info); !st.is_ok()) return st;
    return tx.commit();
}

Status op_index_delete(Store &s, const char *uid)
{
    std::optional<Transaction> tx;
    IndexInfo info;
    if (Status st = open_index(s, uid, true, tx, info); !st.is_ok()) return st;
    std::string sql = "DROP TABLE " + info.documents_table() + "; DROP TABLE " + info.fulltext_table() +
                      "; DROP TABLE " + info.fields_table() + "; DROP TABLE " + info.vocabulary_table() + "; DELETE FROM kr_index WHERE id = " +
                      std::to_string(info.id) + ";";
    if (Status st = s.exec(sql.c_str()); !st.is_ok()) return st;
    return tx->commit();
}

Status op_indexes_list(Store &s, std::string &out)
{
    Statement st(s.db(), "SELECT uid, primary_key, created_at, updated_at FROM kr_index ORDER BY uid");
    out = "[";
    bool first = true;
    while (st.step()) {
        if (!first) out += ',';
        first = false;
        out += "{\"name\":";
        append_json_string(out, st.column_text(0));
        out += ",\"primary_key\":";
        append_json_string(out, st.column_text(1));
        out += ",\"created_at\":";
        append_json_string(out, st.column_text(2));
        out += ",\"updated_at\":";
        append_json_string(out, st.column_text(3));
        out += '}';
    }
    out += ']';
    return st.status();
}

Status op_index_stats(Store &s, const char *uid, std::string &out)
{
    std::optional<Transaction> tx;  // read-only: always rolled back
    IndexInfo info;
    if (Status st = open_index(s, uid, false, tx, info); !st.is_ok()) return st;
    out = "{\"document_count\":" + std::to_string(info.document_count) +
          ",\"is_indexing\":false,\"field_distribution\":{";
    Statement st(s.db(), "SELECT name, count FROM " + info.fields_table() + " ORDER BY name");
    bool first = true;
    while (st.step()) {
        if (!first) out += ',';
        first = false;
        append_json_string(out, st.column_text(0));
        out += ':';
        out += std::to_string(st.column_int(1));
    }
    out += "}}";
    return st.status();
}

Status op_document_get(Store &s, const char *uid, const char *id, std::string &out, bool &found)
{
    found = false;
    std::optional<Transaction> tx;  // read-only: always rolled back
    IndexInfo info;
    if (Status st = open_index(s, uid, false, tx, info); !st.is_ok()) return st;
    std::string_view key = id ? std::string_view(id) : std::string_view();
    if (is_plain_name(key, kMaxIdBytes)) {
        Statement st(s.db(), "SELECT body FROM " + info.documents_table() + " WHERE id = ?1");
        st.bind(1, key);
        if (st.step()) {
            out.assign(st.column_text(0));
            found = true;
            return Status::ok();
        }
        if (!st.status().is_ok()) return st.status();
    }
    return Status::error("Document `" + shown(key) + "` not found in index `" + std::string(uid) + "`.");
}

Status op_document_delete(Store &s, const char *uid, const char *id)
{
    std::string_view key = id ? std::string_view(id) : std::string_view();
    std::optional<Transaction> tx;
    IndexInfo info;
    if (Status st = open_index(s, uid, true, tx, info); !st.is_ok()) return st;
    auto missing = [&] {
        return Status::error("Document `" + shown(key) + "` not found in index `" + std::string(uid) + "`.");
    };
    if (!is_plain_name(key, kMaxIdBytes)) return missing();
    Statement sel(s.db(), "SELECT seq, body FROM " + info.documents_table() + " WHERE id = ?1");
    sel.bind(1, key);
    if (!sel.step()) return sel.status().is_ok() ? missing() : sel.status();
    std::int64_t seq = sel.column_int(0);
    std::string body(sel.column_text(1));
    sel = Statement();

    bool current = false;
    if (Status st = has_current_form(s, info, current); !st.is_ok()) return st;
    Statement fts_delete = fulltext_delete(s, info);
    std::string text[kTextColumns];
    std::unordered_map<std::string, std::int64_t> fields;
    if (Status st = forget_document(fts_delete, seq, body, current, text, fields); !st.is_ok()) return st;
    Statement del(s.db(), "DELETE FROM " + info.documents_table() + " WHERE seq = ?1");
    del.bind(1, seq);
    if (Status st = del.run(); !st.is_ok()) return st;
    if (Status st = apply_fields(s, info, fields); !st.is_ok()) return st;
    if (Status st = touch_index(s, info, -1); !st.is_ok()) return st;
    return tx->commit();
}

Status op_documents_add(Store &s, const char *uid, const char *body, std::int64_t &count)
{
    count = 0;
    if (Status st = check_uid(uid); !st.is_ok()) return st;
    if (body == nullptr) return Status::error("The body is empty: send a JSON array of objects, a JSON object, "
                                              "or NDJSON (one object per line).");
    std::string_view text_body(body);
    // Parsing needs no lock: it happens before the write transaction.
    Batch batch;
    if (Status st = batch.parse(text_body); !st.is_ok()) return st;

    // Big batches get a larger page cache (16 MB): fewer pages spilled and
    // written twice, while peak memory stays within about three bodies.
    const bool big = text_body.size() > (4u << 20);
    if (big) (void)s.exec("PRAGMA cache_size=-16384");

    if (Status st = s.begin_write(); !st.is_ok()) return st;
    Transaction tx(s);
    IndexInfo info;
    bool found = false;
    if (Status st = s.find_index(uid, info, found); !st.is_ok()) return st;
    if (!found && batch.size() == 0) return Status::ok();  // nothing to infer a key from, nothing to store

    std::string primary_key = info.primary_key;
    if (!found) {
        yyjson_val *first = batch.document(0);
        if (first == nullptr) return batch.invalid();
        if (!yyjson_is_obj(first)) return Status::error("Document 1 of the batch is not a JSON object.");
        if (Status st = infer_primary_key(uid, first, primary_key); !st.is_ok()) return st;
    }
    // The documents are read as they are written: the first that cannot be
    // read ends the batch, and the transaction leaves no trace of it.
    Tokenizer tokenizer;
    if (Status st = tokenizer.open(s.db()); !st.is_ok()) return st;
    bool current = true;  // a new index has the current form
    if (found)
        if (Status st = has_current_form(s, info, current); !st.is_ok()) return st;
    BatchReader reader(batch, primary_key, tokenizer, current);
    reader.start();
    if (!found)
        if (Status st = create_index(s, uid, primary_key, info); !st.is_ok()) return st;

    Statement sel(s.db(), "SELECT seq, body FROM " + info.documents_table() + " WHERE id = ?1");
    // Most documents of a batch are new: the insert tries first, and the
    // id's unique index tells when the document is a replacement.
    Statement ins(s.db(), "INSERT INTO " + info.documents_table() + "(id, body) VALUES(?1, ?2) ON CONFLICT(id) DO NOTHING");
    Statement upd(s.db(), "UPDATE " + info.documents_table() + " SET body = ?2 WHERE seq = ?1");
    Statement fts_insert(s.db(), "INSERT INTO " + info.fulltext_table() + "(rowid, " + fulltext_columns() +
                                     ") VALUES(?1, ?2, ?3, ?4, ?5)");
    Statement fts_delete = fulltext_delete(s, info);
    // A big batch also gets a larger full-text hash for as long as it runs.
    // Every flush of the hash writes a segment that automerge soon rewrites,
    // and with the prefix index every word goes in twice: at 32 MB, 100,000
    // documents of 500 bytes took 27% fewer instructions than at 8 MB
    // (bench/search load under callgrind); 16 MB saved 23%, 64 MB no more.
    // 16 MB it is: the last 4% is not worth 16 MB more of peak memory, which
    // must stay within about three bodies for a 100 MB batch.
    // Set back before the commit, in the same transaction.
    if (big)
        if (Status st = set_hash_size(s, info, kBigBatchHashSize); !st.is_ok()) return st;
    for (const Statement *st : {&sel, &ins, &upd, &fts_insert, &fts_delete})
        if (!st->prepared()) return st->status();

    std::unordered_map<std::string, std::int64_t> fields;  // of replaced documents
    std::int64_t added = 0;
    std::string old_text[kTextColumns];
    while (const PreparedDocument *doc = reader.next()) {
        std::string_view id(doc->id);
        std::int64_t seq = 0;
        ins.bind(1, id).bind(2, std::string_view(doc->body));
        if (Status st = ins.run(); !st.is_ok()) return st;
        if (sqlite3_changes(s.db()) == 1) {
            seq = sqlite3_last_insert_rowid(s.db());
            ++added;
        } else {
            sel.bind(1, id);
            if (!sel.step()) return sel.status().is_ok() ? Status::error("The store lost a document while adding.") : sel.status();
            seq = sel.column_int(0);
            std::string old(sel.column_text(1));
            sel.reset();
            if (Status st = forget_document(fts_delete, seq, old, current, old_text, fields); !st.is_ok()) return st;
            upd.bind(1, seq).bind(2, std::string_view(doc->body));
            if (Status st = upd.run(); !st.is_ok()) return st;
        }
        fts_insert.bind(1, seq);
        for (int c = 0; c < kTextColumns; ++c) fts_insert.bind_terminated(c + 2, doc->text[c]);
        if (Status st = fts_insert.run(); !st.is_ok()) return st;
    }
    if (!reader.status().is_ok()) return reader.status();
    for (const auto &[name, n] : reader.fields()) fields[name] += n;
    if (big)
        if (Status st = set_hash_size(s, info, kHashSize); !st.is_ok()) return st;
    if (Status st = apply_fields(s, info, fields); !st.is_ok()) return st;
    if (Status st = add_vocabulary(s, info, reader.terms()); !st.is_ok()) return st;
    if (Status st = touch_index(s, info, added); !st.is_ok()) return st;
    if (Status st = tx.commit(); !st.is_ok()) return st;
    count = static_cast<std::int64_t>(batch.size());
    return Status::ok();
}

}  // namespace korrin
