/*
 * Batch bodies: parsing, validation of each document, and what the index
 * keeps of a document besides its text (searchable text, attribute names).
 *
 * A body may be 100 MB of hundreds of thousands of documents. Numbers are
 * read as raw text so they are stored exactly as sent. An array is cut into
 * its elements and NDJSON into its lines, and each document is parsed on
 * its own whenever it is needed, so no parse ever holds more than one
 * document: peak memory is the caller's body plus one document and SQLite's
 * caches. A body that does not cut cleanly is parsed whole, for a message
 * that names the byte and the document at fault.
 */
#include "kr_internal.h"

#include <yyjson.h>

#include <algorithm>
#include <unordered_set>

namespace korrin {

namespace {

constexpr yyjson_read_flag kReadFlags = YYJSON_READ_NUMBER_AS_RAW;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string json_error(const yyjson_read_err &err, std::string_view where)
{
    std::string m = std::string(where) + " is not valid JSON: " + (err.msg ? err.msg : "parse error") +
                    " at byte " + std::to_string(err.pos + 1) + ".";
    return m;
}

bool ends_with_id(std::string_view key)
{
    if (key.size() < 2) return false;
    char a = key[key.size() - 2], b = key[key.size() - 1];
    return (a == 'i' || a == 'I') && (b == 'd' || b == 'D');
}

// One step of a walk over JSON text that skips strings: gives body[i] when
// it lies outside every string, and 0 for a byte of a string (its quotes
// included), stepping i over the byte after a backslash.
char outside_strings(std::string_view body, std::size_t &i, bool &in_string)
{
    const char c = body[i];
    if (in_string) {
        if (c == '\\') ++i;
        else if (c == '"') in_string = false;
        return 0;
    }
    if (c == '"') {
        in_string = true;
        return 0;
    }
    return c;
}

// Which document of an array (or single object) body the byte at `pos`
// belongs to, counting from 1; 0 when it lies outside every document (before
// the root, after it, or the root is neither an array nor an object). A
// cheap walk over the bytes before the error: strings are skipped, commas
// at the array's own level separate documents.
std::size_t document_at(std::string_view body, std::size_t pos)
{
    std::size_t i = 0;
    while (i < body.size() && is_space(body[i])) ++i;
    if (i >= body.size() || i >= pos || (body[i] != '[' && body[i] != '{')) return 0;
    const bool array = body[i] == '[';
    std::size_t document = 1;
    int depth = 0;
    bool in_string = false;
    for (; i < pos && i < body.size(); ++i) {
        const char c = outside_strings(body, i, in_string);
        if (c == '{' || c == '[') ++depth;
        else if (c == '}' || c == ']') {
            if (--depth == 0) return 0;  // the error follows the closed root
        } else if (c == ',' && depth == 1 && array) ++document;
    }
    return document;
}

bool is_integer_text(std::string_view s)
{
    std::size_t i = (!s.empty() && s[0] == '-') ? 1 : 0;
    if (i >= s.size()) return false;
    for (; i < s.size(); ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

// Where the object or array that starts at body[start] ends (one past its
// closing bracket), found without parsing it; npos when it does not close.
std::size_t value_end(std::string_view body, std::size_t start)
{
    int depth = 0;
    bool in_string = false;
    for (std::size_t i = start; i < body.size(); ++i) {
        const char c = outside_strings(body, i, in_string);
        if (c == '{' || c == '[') ++depth;
        else if ((c == '}' || c == ']') && --depth == 0) return i + 1;
    }
    return std::string_view::npos;
}

// The byte ranges of the elements of the array that starts at body[start],
// found without parsing them: strings are skipped, brackets counted. False
// when the text is not an array of values at this coarse level; the caller
// then parses the whole body for a precise message.
bool split_array(std::string_view body, std::size_t start, std::vector<std::pair<std::size_t, std::size_t>> &out)
{
    std::size_t i = start + 1;
    auto skip = [&] {
        while (i < body.size() && is_space(body[i])) ++i;
    };
    skip();
    if (i < body.size() && body[i] == ']') {
        ++i;
        skip();
        return i == body.size();
    }
    for (;;) {
        skip();
        const std::size_t from = i;
        int depth = 0;
        bool in_string = false;
        for (; i < body.size(); ++i) {
            const char c = outside_strings(body, i, in_string);
            if (c == '{' || c == '[') ++depth;
            else if (c == '}' || c == ']') {
                if (depth == 0) break;
                --depth;
            } else if (c == ',' && depth == 0) break;
        }
        if (i >= body.size() || (body[i] != ',' && body[i] != ']')) return false;
        std::size_t to = i;
        while (to > from && is_space(body[to - 1])) --to;
        if (to == from) return false;
        out.emplace_back(from, to - from);
        if (body[i++] == ']') {
            skip();
            return i == body.size();
        }
    }
}

}  // namespace

void JsonDocFree::operator()(yyjson_doc *doc) const
{
    yyjson_doc_free(doc);
}

JsonDoc Batch::read(std::string_view text, yyjson_read_err *err)
{
    return JsonDoc(yyjson_read_opts(const_cast<char *>(text.data()), text.size(), kReadFlags, nullptr, err));
}

yyjson_val *Batch::document(std::size_t i)
{
    if (whole_) return docs_[i];
    if (!current_ || current_index_ != i) {
        current_.reset();  // before the next is parsed: one document at a time
        const Slice &slice = slices_[i];
        current_ = read(body_.substr(slice.offset, slice.length));
        current_index_ = i;
    }
    return current_ ? yyjson_doc_get_root(current_.get()) : nullptr;
}

Status Batch::invalid()
{
    Batch whole;
    whole.mark_ = mark_;
    std::size_t start = 0;
    while (start < body_.size() && is_space(body_[start])) ++start;
    if (Status st = whole.parse_whole(body_, start, true); !st.is_ok()) return st;
    return Status::error("The batch cannot be read: the server is out of memory.");
}

Status Batch::parse(std::string_view body)
{
    // Editors on Windows start UTF-8 files with a byte order mark; JSON may
    // ignore it, and a file saved that way should go in as it is.
    if (body.starts_with("\xEF\xBB\xBF")) {
        body.remove_prefix(3);
        mark_ = 3;
    }
    body_ = body;
    std::size_t start = 0;
    while (start < body.size() && is_space(body[start])) ++start;
    if (start == body.size())
        return Status::error("The body is empty: send a JSON array of objects, a JSON object, "
                             "or NDJSON (one object per line).");
    if (body[start] == '[') {
        std::vector<std::pair<std::size_t, std::size_t>> ranges;
        if (split_array(body, start, ranges)) {
            slices_.reserve(ranges.size());
            for (auto [offset, length] : ranges) slices_.push_back({offset, length});
            return Status::ok();
        }
    } else if (body[start] == '{') {
        // More after the first object is NDJSON: cut into lines at once,
        // rather than found by a parse of the whole body (a copy of it).
        std::size_t end = value_end(body, start);
        while (end < body.size() && is_space(body[end])) ++end;
        if (end < body.size()) return parse_lines(body, false);
    }
    return parse_whole(body, start, false);
}

Status Batch::parse_whole(std::string_view body, std::size_t start, bool check_lines)
{
    yyjson_read_err err{};
    JsonDoc doc = read(body, &err);
    if (!doc) {
        // An object followed by more content is NDJSON.
        if (body[start] == '{' && err.code == YYJSON_READ_ERROR_UNEXPECTED_CONTENT)
            return parse_lines(body, check_lines);
        const std::size_t document = document_at(body, err.pos);
        err.pos += mark_;  // a position in the body as sent
        std::string message = json_error(err, "The body");
        if (document != 0) {
            message.pop_back();  // the full stop
            message += ", in document " + std::to_string(document) + " of the batch.";
        }
        return Status::error(message);
    }
    whole_ = std::move(doc);
    yyjson_val *root = yyjson_doc_get_root(whole_.get());
    if (yyjson_is_obj(root)) {
        docs_.push_back(root);
        return Status::ok();
    }
    if (!yyjson_is_arr(root))
        return Status::error("The body must be a JSON array of objects, a JSON object, or NDJSON "
                             "(one object per line).");
    docs_.reserve(yyjson_arr_size(root));
    yyjson_arr_iter it = yyjson_arr_iter_with(root);
    while (yyjson_val *v = yyjson_arr_iter_next(&it)) docs_.push_back(v);
    return Status::ok();
}

// Lines are parsed when their document is read; `check` parses each now,
// for the message that names the first line that is not JSON.
Status Batch::parse_lines(std::string_view body, bool check)
{
    std::size_t line_no = 0;
    std::size_t pos = 0;
    while (pos < body.size()) {
        std::size_t end = body.find('\n', pos);
        if (end == std::string_view::npos) end = body.size();
        ++line_no;
        std::string_view line = body.substr(pos, end - pos);
        const std::size_t offset = pos;
        pos = end + 1;
        bool blank = true;
        for (char c : line)
            if (!is_space(c)) {
                blank = false;
                break;
            }
        if (blank) continue;
        if (!check) {
            slices_.push_back({offset, line.size()});
            continue;
        }
        yyjson_read_err err{};
        if (!read(line, &err)) {
            if (offset == 0) err.pos += mark_;
            std::string message = json_error(err, "Line " + std::to_string(line_no) + " of the body");
            message.pop_back();  // the full stop
            return Status::error(message + ", in document " + std::to_string(slices_.size() + 1) + " of the batch.");
        }
        slices_.push_back({offset, line.size()});
    }
    return Status::ok();
}

Status infer_primary_key(std::string_view uid, yyjson_val *first, std::string &primary_key)
{
    const std::string what = "The primary key of the new index `" + std::string(uid) + "` cannot be inferred: ";
    if (yyjson_obj_get(first, "id") != nullptr) {
        primary_key = "id";
        return Status::ok();
    }
    std::vector<std::string_view> candidates;
    for (std::string_view key : top_level_attributes(first))
        if (ends_with_id(key)) candidates.push_back(key);
    if (candidates.size() == 1) {
        primary_key = std::string(candidates[0]);
        return Status::ok();
    }
    if (candidates.empty())
        return Status::error(what + "the first document has no attribute \"id\" and none whose name "
                                    "ends in \"id\". Create the index with its primary key first.");
    std::string names;
    for (std::size_t i = 0; i < candidates.size() && i < 5; ++i) {
        if (i) names += ", ";
        names += '`';
        names += shown(candidates[i]);
        names += '`';
    }
    if (candidates.size() > 5) names += ", ...";
    return Status::error(what + "the first document has several attributes whose name ends in "
                                "\"id\" (" + names + "). Create the index with its primary key first.");
}

Status document_id(yyjson_val *doc, std::string_view primary_key, std::size_t position, std::string &id)
{
    const std::string which = "Document " + std::to_string(position) + " of the batch";
    if (!yyjson_is_obj(doc)) return Status::error(which + " is not a JSON object.");
    yyjson_val *v = yyjson_obj_getn(doc, primary_key.data(), primary_key.size());
    const std::string rule = " The primary key holds a string of 1 to 511 bytes of ASCII letters, "
                             "digits, '-' and '_', or an integer.";
    if (v == nullptr)
        return Status::error(which + " has no primary key attribute `" + shown(primary_key) + "`.");
    if (yyjson_is_str(v)) {
        std::string_view s(yyjson_get_str(v), yyjson_get_len(v));
        if (!is_plain_name(s, kMaxIdBytes))
            return Status::error(which + " has an invalid primary key value \"" + shown(s) + "\"." + rule);
        id.assign(s);
        return Status::ok();
    }
    if (yyjson_is_raw(v)) {
        std::string_view s(yyjson_get_raw(v), yyjson_get_len(v));
        if (!is_integer_text(s) || s.size() > kMaxIdBytes)
            return Status::error(which + " has an invalid primary key value " + shown(s) + "." + rule);
        // -0 is the integer 0: both name one document.
        id.assign(s == "-0" ? std::string_view("0") : s);
        return Status::ok();
    }
    return Status::error(which + " has a primary key `" + shown(primary_key) +
                         "` that is neither a string nor an integer." + rule);
}

std::vector<std::string_view> top_level_attributes(yyjson_val *doc)
{
    std::vector<std::string_view> keys;
    if (!yyjson_is_obj(doc)) return keys;
    std::size_t n = yyjson_obj_size(doc);
    keys.reserve(n);
    std::unordered_set<std::string_view> seen;
    yyjson_obj_iter it = yyjson_obj_iter_with(doc);
    while (yyjson_val *k = yyjson_obj_iter_next(&it)) {
        std::string_view key(yyjson_get_str(k), yyjson_get_len(k));
        if (n <= 16) {
            bool dup = false;
            for (std::string_view seen_key : keys) dup = dup || seen_key == key;
            if (!dup) keys.push_back(key);
        } else if (seen.insert(key).second)
            keys.push_back(key);
    }
    return keys;
}

}  // namespace korrin
