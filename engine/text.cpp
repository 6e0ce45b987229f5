/*
 * Small text rules of the engine: what a uid or id may be, how a caller's
 * value is quoted in a message, JSON string escaping, and UTF-8: checking,
 * decoding and encoding, for the rest of the engine too.
 * Every value that reaches SQL or a reply passes one of these first.
 */
#include "kr_internal.h"

#include <cstdio>
#include <ctime>

namespace korrin {

bool is_plain_name(std::string_view s, std::size_t max_bytes)
{
    if (s.empty() || s.size() > max_bytes) return false;
    for (unsigned char c : s) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

// A refused uid is quoted whole up to twice the longest valid one, so the
// common mistake (a few bytes too long) shows the caller exactly what was
// sent; only absurd values are cut.
static constexpr std::size_t kShownUidBytes = 2 * kMaxUidBytes + 2;

static std::string shown_up_to(std::string_view s, std::size_t max_bytes);

Status check_uid(const char *uid)
{
    if (uid == nullptr || *uid == '\0')
        return Status::error("An index uid is required: it is 1 to 127 bytes of ASCII letters, "
                             "digits, '-' and '_'.");
    std::string_view v(uid);
    if (!is_plain_name(v, kMaxUidBytes))
        return Status::error("Index uid `" + shown_up_to(v, kShownUidBytes) +
                             "` is invalid: an index uid is 1 to 127 bytes of ASCII letters, "
                             "digits, '-' and '_'.");
    return Status::ok();
}

char32_t decode_char(std::string_view s, std::size_t &i)
{
    auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = b(i);
    if (c < 0x80) {
        ++i;
        return c;
    }
    std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    if (n == 0 || c > 0xF4 || i + n > s.size()) {
        ++i;
        return 0xFFFD;
    }
    char32_t cp = c & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    bool overlong = (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += n;
    return cp;
}

std::size_t utf8_length(std::string_view s)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); ++n) decode_char(s, i);
    return n;
}

std::u32string to_u32(std::string_view s)
{
    std::u32string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) out += decode_char(s, i);
    return out;
}

void append_utf8(std::string &out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Length of the well-formed UTF-8 sequence at s[i], or 0 when ill-formed.
static std::size_t utf8_sequence(std::string_view s, std::size_t i)
{
    std::size_t next = i;
    char32_t c = decode_char(s, next);
    // An ill-formed byte decodes as U+FFFD one byte long; U+FFFD itself
    // takes three.
    return c == 0xFFFD && next == i + 1 ? 0 : next - i;
}

bool is_valid_utf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        std::size_t n = utf8_sequence(s, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string shown(std::string_view s) { return shown_up_to(s, 80); }

static std::string shown_up_to(std::string_view s, std::size_t max_bytes)
{
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        if (out.size() >= max_bytes) {
            out += "\xE2\x80\xA6";  // ellipsis
            break;
        }
        std::size_t n = utf8_sequence(s, i);
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (n == 0 || (n == 1 && (c < 0x20 || c == 0x7F))) {
            out += "\xEF\xBF\xBD";
            i += 1;
        } else {
            out.append(s.substr(i, n));
            i += n;
        }
    }
    return out;
}

void append_json_string(std::string &out, std::string_view s)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80) {
            std::size_t n = utf8_sequence(s, i);
            if (n == 0) {
                out += "\xEF\xBF\xBD";
                i += 1;
            } else {
                out.append(s.substr(i, n));
                i += n;
            }
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (c < 0x20) {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else
                out += static_cast<char>(c);
        }
        ++i;
    }
    out += '"';
}

std::string now_rfc3339()
{
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

}  // namespace korrin
