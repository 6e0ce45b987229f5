#include "fake_engine.h"

#include "korrin.h"

static FakeEngine s_fake;

FakeEngine &fake_engine() { return s_fake; }

void fake_engine_reset() { s_fake = FakeEngine(); }

std::vector<FakeCall> fake_engine_calls()
{
    std::vector<FakeCall> out;
    for (const FakeCall &c : s_fake.calls)
        if (c.fn != "korrin_last_error")
            out.push_back(c);
    return out;
}

std::string fake_engine_trace()
{
    std::string out;
    for (const FakeCall &c : fake_engine_calls())
        out += (out.empty() ? "" : " ") + c.fn;
    return out;
}

static std::string text_arg(const char *text) { return text != nullptr ? text : "<null>"; }

static void record(const char *fn, std::vector<std::string> args = {})
{
    s_fake.calls.push_back(FakeCall{fn, std::move(args)});
}

static const char *text_of(const std::optional<std::string> &value)
{
    return value ? value->c_str() : nullptr;
}

extern "C" {

int korrin_init(const char *storage_dir)
{
    record("korrin_init", {text_arg(storage_dir)});
    return s_fake.init_result;
}

void korrin_cleanup(void) { record("korrin_cleanup"); }

const char *korrin_last_error(void)
{
    record("korrin_last_error");
    return text_of(s_fake.last_error);
}

const char *korrin_search(const char *index_uid, const char *query, int32_t limit, int32_t offset)
{
    record("korrin_search",
           {text_arg(index_uid), text_arg(query), std::to_string(limit), std::to_string(offset)});
    return text_of(s_fake.search_result);
}

int32_t korrin_documents_add(const char *index_uid, const char *body)
{
    record("korrin_documents_add", {text_arg(index_uid), text_arg(body)});
    return s_fake.add_result;
}

const char *korrin_document_get(const char *index_uid, const char *document_id)
{
    record("korrin_document_get", {text_arg(index_uid), text_arg(document_id)});
    return text_of(s_fake.document);
}

int korrin_document_delete(const char *index_uid, const char *document_id)
{
    record("korrin_document_delete", {text_arg(index_uid), text_arg(document_id)});
    return s_fake.delete_result;
}

int korrin_index_create(const char *name, const char *primary_key)
{
    record("korrin_index_create", {text_arg(name), text_arg(primary_key)});
    return s_fake.create_result;
}

int korrin_index_delete(const char *index_uid)
{
    record("korrin_index_delete", {text_arg(index_uid)});
    return s_fake.index_delete_result;
}

const char *korrin_index_stats_json(const char *index_uid)
{
    record("korrin_index_stats_json", {text_arg(index_uid)});
    return text_of(s_fake.stats);
}

const char *korrin_indexes_list_json(void)
{
    record("korrin_indexes_list_json");
    return s_fake.indexes_list.c_str();
}

} /* extern "C" */
