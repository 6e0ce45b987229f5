/*
 * The C boundary of the engine: the korrin_ functions of korrin.h.
 *
 * Each entry point runs its operation through one helper, guarded(), which
 * turns a failure Status or any C++ exception into the last-error message
 * and the documented failure value, so nothing throws across the boundary.
 * Returned texts are kept in s_texts until korrin_cleanup.
 */
#include "korrin.h"

#include "kr_internal.h"

#include <deque>
#include <exception>
#include <new>
#include <string>

namespace {

std::unique_ptr<korrin::Store> s_store;
std::deque<std::string> s_texts;  // deque: pushing never moves the texts handed out
const char *s_last_error_text = "";

// Every message is kept like any returned text, so a message a caller holds
// stays valid after later failures, until korrin_cleanup.
void set_error(const std::string &message) noexcept
{
    try {
        s_texts.push_back(message);
        s_last_error_text = s_texts.back().c_str();
    } catch (...) {
        s_last_error_text = "The engine ran out of memory.";
    }
}

const char *keep(std::string &&text)
{
    s_texts.push_back(std::move(text));
    return s_texts.back().c_str();
}

// Runs body() (which returns a Status and fills its result), mapping every
// failure to the last error and `on_failure`.
template <class R, class Body>
R guarded(R on_failure, Body &&body) noexcept
{
    try {
        if (!s_store) {
            set_error("The engine is not started: korrin_init must succeed first.");
            return on_failure;
        }
        R result = on_failure;
        korrin::Status st = body(result);
        if (!st.is_ok()) {
            set_error(st.message());
            return on_failure;
        }
        return result;
    } catch (const std::bad_alloc &) {
        set_error("The engine ran out of memory.");
    } catch (const std::exception &e) {
        set_error(std::string("The engine failed: ") + e.what() + ".");
    } catch (...) {
        set_error("The engine failed unexpectedly.");
    }
    if (s_store) s_store->rollback();
    return on_failure;
}

}  // namespace

extern "C" {

int korrin_init(const char *storage_dir)
{
    if (s_store) return 0;
    try {
        auto store = std::make_unique<korrin::Store>();
        korrin::Status st = store->open(storage_dir ? storage_dir : "");
        if (!st.is_ok()) {
            set_error(st.message());
            return 1;
        }
        s_store = std::move(store);
        return 0;
    } catch (const std::bad_alloc &) {
        set_error("The engine ran out of memory.");
    } catch (...) {
        set_error("The engine failed to start.");
    }
    return 1;
}

void korrin_cleanup(void)
{
    s_store.reset();
    s_texts.clear();
    s_texts.shrink_to_fit();
    s_last_error_text = "";
}

const char *korrin_last_error(void) { return s_last_error_text; }

const char *korrin_search(const char *index_uid, const char *query, int32_t limit, int32_t offset)
{
    return guarded<const char *>(nullptr, [&](const char *&result) {
        std::string out;
        korrin::Status st = korrin::op_search(*s_store, index_uid, query, limit, offset, out);
        if (st.is_ok()) result = keep(std::move(out));
        return st;
    });
}

int32_t korrin_documents_add(const char *index_uid, const char *body)
{
    return guarded<int32_t>(-1, [&](int32_t &result) {
        std::int64_t count = 0;
        korrin::Status st = korrin::op_documents_add(*s_store, index_uid, body, count);
        result = count > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count);
        return st;
    });
}

const char *korrin_document_get(const char *index_uid, const char *document_id)
{
    return guarded<const char *>(nullptr, [&](const char *&result) {
        std::string out;
        bool found = false;
        korrin::Status st = korrin::op_document_get(*s_store, index_uid, document_id, out, found);
        if (st.is_ok() && found) result = keep(std::move(out));
        return st;
    });
}

int korrin_document_delete(const char *index_uid, const char *document_id)
{
    return guarded<int>(1, [&](int &result) {
        korrin::Status st = korrin::op_document_delete(*s_store, index_uid, document_id);
        result = 0;
        return st;
    });
}

int korrin_index_create(const char *name, const char *primary_key)
{
    return guarded<int>(1, [&](int &result) {
        korrin::Status st = korrin::op_index_create(*s_store, name, primary_key);
        result = 0;
        return st;
    });
}

int korrin_index_delete(const char *index_uid)
{
    return guarded<int>(1, [&](int &result) {
        korrin::Status st = korrin::op_index_delete(*s_store, index_uid);
        result = 0;
        return st;
    });
}

const char *korrin_index_stats_json(const char *index_uid)
{
    return guarded<const char *>(nullptr, [&](const char *&result) {
        std::string out;
        korrin::Status st = korrin::op_index_stats(*s_store, index_uid, out);
        if (st.is_ok()) result = keep(std::move(out));
        return st;
    });
}

const char *korrin_indexes_list_json(void)
{
    const char *list = guarded<const char *>(nullptr, [&](const char *&result) {
        std::string out;
        korrin::Status st = korrin::op_indexes_list(*s_store, out);
        if (st.is_ok()) result = keep(std::move(out));
        return st;
    });
    return list ? list : "[]";
}

}  // extern "C"
