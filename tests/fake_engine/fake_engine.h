/*
 * A stand-in for the engine library: every korrin_* function returns what the
 * test set, and records that it was called and with which arguments. Linked
 * into handler tests instead of quorvane-korrin-core, so they can produce
 * outcomes the real engine never gives (a listing without "hits", a failure
 * with an empty message, ...).
 */
#ifndef FAKE_ENGINE_H
#define FAKE_ENGINE_H

#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

struct FakeCall {
    std::string              fn;   /* "korrin_search", ... */
    std::vector<std::string> args; /* texts as given ("<null>" for NULL), integers in decimal */
};

/* What the fake returns. A text that is std::nullopt is returned as NULL. */
struct FakeEngine {
    int                        init_result = 0;
    std::optional<std::string> last_error;
    std::optional<std::string> search_result = std::string("{\"hits\":[]}");
    int32_t                    add_result = 0;
    std::optional<std::string> document;
    int                        delete_result = 0;
    int                        create_result = 0;
    int                        index_delete_result = 0;
    std::optional<std::string> stats;
    std::string                indexes_list = "[]";
    std::vector<FakeCall>      calls;
};

/* The one fake; tests change its fields directly. */
FakeEngine &fake_engine();
/* Back to the defaults above, with no recorded calls. */
void fake_engine_reset();
/* The calls recorded since the last reset, excluding korrin_last_error. */
std::vector<FakeCall> fake_engine_calls();
/* Names of those calls, joined by spaces ("" when none): handy in asserts. */
std::string fake_engine_trace();

#endif /* FAKE_ENGINE_H */
