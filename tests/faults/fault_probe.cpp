// fault_probe: reads a storage directory after the fault tests have done
// their worst to it, through the same engine and SQLite the programs use.
//
//   fault_probe dump STORAGE UID     every document of the index, one compact
//                                    JSON text per line, in listing order;
//                                    exit 3 when the index does not exist
//   fault_probe integrity STORAGE    PRAGMA integrity_check of korrin.db;
//                                    prints its rows, exit 0 only for "ok"
//   fault_probe version STORAGE      the store's format version
//                                    (PRAGMA user_version)
//   fault_probe snapshot STORAGE     the index list, then every document of
//                                    every index: the whole visible state,
//                                    for comparing before and after a request
//
// Exit 2 for a usage or engine start error, with the message on stderr.
#include <korrin.h>
#include <sqlite3.h>
#include <yyjson.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int dump(const char *storage, const char *uid)
{
    if (korrin_init(storage) != 0) {
        fprintf(stderr, "korrin_init: %s\n", korrin_last_error());
        return 2;
    }
    for (int32_t offset = 0;; offset += 1000) {
        const char *page = korrin_search(uid, "", 1000, offset);
        if (page == nullptr) {
            korrin_cleanup();
            return offset == 0 ? 3 : 2;
        }
        // Numbers stay as sent (1e400, integers beyond 64 bits).
        yyjson_doc *doc = yyjson_read(page, strlen(page), YYJSON_READ_NUMBER_AS_RAW);
        yyjson_val *hits = yyjson_obj_get(yyjson_doc_get_root(doc), "hits");
        if (!yyjson_is_arr(hits)) {
            fprintf(stderr, "listing without hits: %.300s\n", page);
            return 2;
        }
        size_t i, n;
        yyjson_val *hit;
        yyjson_arr_foreach(hits, i, n, hit) {
            char *text = yyjson_val_write(hit, 0, nullptr);
            puts(text ? text : "null");
            free(text);
        }
        size_t count = yyjson_arr_size(hits);
        yyjson_doc_free(doc);
        if (count < 1000) break;
        korrin_cleanup(); // release the page texts before the next one
        if (korrin_init(storage) != 0) return 2;
    }
    korrin_cleanup();
    return 0;
}

int snapshot(const char *storage)
{
    if (korrin_init(storage) != 0) {
        fprintf(stderr, "korrin_init: %s\n", korrin_last_error());
        return 2;
    }
    const char *list = korrin_indexes_list_json();
    puts(list);
    yyjson_doc *doc = yyjson_read(list, strlen(list), 0);
    std::string names;
    size_t i, n;
    yyjson_val *index;
    yyjson_arr_foreach(yyjson_doc_get_root(doc), i, n, index) {
        names += yyjson_get_str(yyjson_obj_get(index, "name"));
        names += '\n';
    }
    yyjson_doc_free(doc);
    korrin_cleanup();
    fflush(stdout);
    for (size_t at = 0; at < names.size();) {
        size_t end = names.find('\n', at);
        std::string name = names.substr(at, end - at);
        at = end + 1;
        printf("index %s\n", name.c_str());
        fflush(stdout);
        if (dump(storage, name.c_str()) != 0) return 2;
        fflush(stdout);
    }
    return 0;
}

int pragma(const char *storage, const char *sql, bool want_ok)
{
    std::string path = std::string(storage) + "/korrin.db";
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        fprintf(stderr, "open %s: %s\n", path.c_str(), db ? sqlite3_errmsg(db) : "no memory");
        sqlite3_close(db);
        return 2;
    }
    sqlite3_busy_timeout(db, 10000);
    sqlite3_stmt *st = nullptr;
    int rc = 1;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK) {
        bool first = true;
        while (sqlite3_step(st) == SQLITE_ROW) {
            const char *row = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
            puts(row ? row : "");
            if (first && (!want_ok || (row && strcmp(row, "ok") == 0))) rc = 0;
            first = false;
        }
    }
    if (sqlite3_errcode(db) != SQLITE_OK && sqlite3_errcode(db) != SQLITE_DONE && sqlite3_errcode(db) != SQLITE_ROW) {
        fprintf(stderr, "%s: %s\n", sql, sqlite3_errmsg(db));
        rc = 1;
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rc;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && strcmp(argv[1], "dump") == 0) return dump(argv[2], argv[3]);
    if (argc == 3 && strcmp(argv[1], "integrity") == 0) return pragma(argv[2], "PRAGMA integrity_check", true);
    if (argc == 3 && strcmp(argv[1], "snapshot") == 0) return snapshot(argv[2]);
    if (argc == 3 && strcmp(argv[1], "version") == 0) return pragma(argv[2], "PRAGMA user_version", false);
    fprintf(stderr, "usage: fault_probe dump STORAGE UID | integrity|version|snapshot STORAGE\n");
    return 2;
}
