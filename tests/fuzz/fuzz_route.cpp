// Fuzzes route parsing with arbitrary request paths. Beyond the sanitizers,
// each result must be a Route the programs can trust: a known kind, both
// texts terminated inside their buffers, and the fields each kind promises.
#include <kr_common.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

[[noreturn]] void fail(const std::string &path, const char *what)
{
    fprintf(stderr, "kr_parse_route(\"%s\"): %s\n", path.c_str(), what);
    abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string path(reinterpret_cast<const char *>(data), size);
    path = path.substr(0, path.find('\0'));

    Route route;
    memset(&route, 0x5a, sizeof route); // stale bytes must not survive
    kr_parse_route(path.c_str(), &route);

    if (route.kind < KR_ROUTE_NONE || route.kind > KR_ROUTE_STATS) fail(path, "unknown kind");
    if (memchr(route.index_uid, 0, sizeof route.index_uid) == nullptr) fail(path, "index uid not terminated");
    if (memchr(route.document_id, 0, sizeof route.document_id) == nullptr) fail(path, "document id not terminated");

    bool has_uid = route.index_uid[0] != '\0';
    bool has_id = route.document_id[0] != '\0';
    switch (route.kind) {
    case KR_ROUTE_ROOT:
    case KR_ROUTE_STATUS:
    case KR_ROUTE_INDEXES:
        if (has_uid || has_id) fail(path, "collection route carries a uid or id");
        break;
    case KR_ROUTE_INDEX:
    case KR_ROUTE_SEARCH:
    case KR_ROUTE_DOCUMENTS:
    case KR_ROUTE_STATS:
        if (!has_uid || has_id) fail(path, "index route without its uid, or with an id");
        break;
    case KR_ROUTE_DOCUMENT:
        if (!has_uid || !has_id) fail(path, "document route without uid or id");
        break;
    default:
        if (has_id) fail(path, "unknown route carries a document id");
        break;
    }
    // Segments are taken from the path byte for byte: neither text may hold
    // a separator or anything of the query part.
    if (strchr(route.index_uid, '/') || strchr(route.document_id, '/')) fail(path, "text holds a '/'");
    if (strchr(route.index_uid, '?') || strchr(route.document_id, '?')) fail(path, "text holds a '?'");
    if (has_uid && path.find(route.index_uid) == std::string::npos) fail(path, "uid not taken from the path");

    Route again;
    kr_parse_route(path.c_str(), &again);
    if (memcmp(&route, &again, sizeof route) != 0) fail(path, "two parses differ");
    kr_parse_route(path.c_str(), nullptr);
    return 0;
}
