// Fuzzes the query-string decoder: the input is QUERY_STRING, and each
// decoded value is checked against a small reference decoder written from
// the documented rules (first matching key wins, '+' is a space, %XX only
// with two hex digits, values cut at 511 bytes). Any difference, overread or
// undefined behaviour stops the run.
#include <qv_cgi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int hex_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The decoded value as a C caller sees it: up to 511 bytes, ending at the
// first NUL a %00 escape produces.
std::string reference(const std::string &qs, const std::string &name)
{
    size_t pos = 0;
    while (pos <= qs.size()) {
        size_t end = qs.find('&', pos);
        if (end == std::string::npos) end = qs.size();
        std::string seg = qs.substr(pos, end - pos);
        size_t eq = seg.find('=');
        std::string key = seg.substr(0, eq);
        if (key == name) {
            std::string value = eq == std::string::npos ? "" : seg.substr(eq + 1);
            std::string out;
            for (size_t i = 0; i < value.size() && out.size() < 511; i++) {
                char c = value[i];
                if (c == '+') {
                    out += ' ';
                } else if (c == '%' && i + 2 < value.size() &&
                           hex_value(value[i + 1]) >= 0 && hex_value(value[i + 2]) >= 0) {
                    out += static_cast<char>(hex_value(value[i + 1]) * 16 + hex_value(value[i + 2]));
                    i += 2;
                } else {
                    out += c;
                }
            }
            size_t nul = out.find('\0');
            return nul == std::string::npos ? out : out.substr(0, nul);
        }
        if (end == qs.size()) break;
        pos = end + 1;
        if (pos == qs.size()) break;
    }
    return "";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The environment cannot carry a NUL: the query string ends at the first.
    std::string qs(reinterpret_cast<const char *>(data), size);
    qs = qs.substr(0, qs.find('\0'));
    if (qs.empty()) return 0; // the environment fallback is not the decoder
    setenv("QUERY_STRING", qs.c_str(), 1);

    // The names the programs ask for, plus one taken from the input itself so
    // that keys with odd bytes get matched too.
    std::string own = qs.substr(0, qs.find_first_of("=&"));
    const char *names[] = {"q", "index", "name", "uid", "id", "limit", "offset", own.c_str()};
    for (const char *name : names) {
        if (name[0] == '\0') continue;
        const char *got = cgi_query(name);
        if (got == nullptr) {
            fprintf(stderr, "cgi_query(\"%s\") returned NULL\n", name);
            abort();
        }
        std::string want = reference(qs, name);
        if (want != got) {
            fprintf(stderr, "cgi_query(\"%s\") on \"%s\": got \"%s\", want \"%s\"\n",
                    name, qs.c_str(), got, want.c_str());
            abort();
        }
    }
    if (cgi_query("")[0] != '\0' || cgi_query(nullptr)[0] != '\0') abort();
    return 0;
}
