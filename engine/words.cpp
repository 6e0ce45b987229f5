/*
 * What a word is, on both sides of the full-text index.
 *
 * Documents: every string value goes to one of kTextColumns columns by the
 * place of its top-level attribute, after unspaced characters (ideographs,
 * kana, Thai...) are set apart with spaces, so each is one token.
 * Queries: split by the same tokenizer the full-text table uses (unicode61,
 * diacritics removed, case folded), with double quotes marking phrases and
 * runs of unspaced characters kept together as phrases.
 */
#include "kr_search.h"

#include <sqlite3.h>
#include <yyjson.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace korrin {

// Marks that sit on the character before them. The tokenizer treats them as
// separators, so in unspaced scripts they must not split a run of text.
static bool is_combining_mark(char32_t c)
{
    return (c >= 0x0300 && c <= 0x036F) || c == 0x0E31 || (c >= 0x0E34 && c <= 0x0E3A) ||
           (c >= 0x0E47 && c <= 0x0E4E) || c == 0x0EB1 || (c >= 0x0EB4 && c <= 0x0EBC) ||
           (c >= 0x0EC8 && c <= 0x0ECD) || (c >= 0x102B && c <= 0x103E) ||
           (c >= 0x17B4 && c <= 0x17D3) || c == 0x3099 || c == 0x309A;
}

bool is_unspaced_char(char32_t c)
{
    if (is_combining_mark(c)) return false;
    return (c >= 0x0E00 && c <= 0x0EFF) ||    // Thai, Lao
           (c >= 0x1000 && c <= 0x109F) ||    // Myanmar
           (c >= 0x1780 && c <= 0x17FF) ||    // Khmer
           (c >= 0x3005 && c <= 0x3007) ||    // ideographic iteration and zero
           (c >= 0x3040 && c <= 0x30FF) ||    // Hiragana, Katakana
           (c >= 0x31F0 && c <= 0x31FF) ||    // Katakana extensions
           (c >= 0x3400 && c <= 0x4DBF) ||    // CJK extension A
           (c >= 0x4E00 && c <= 0x9FFF) ||    // CJK unified ideographs
           (c >= 0xF900 && c <= 0xFAFF) ||    // CJK compatibility ideographs
           (c >= 0xFF66 && c <= 0xFF9F) ||    // half-width Katakana
           (c >= 0x20000 && c <= 0x3FFFF);    // CJK extensions B and beyond
}

// Greek and Cyrillic letters with accents that the tokenizer keeps as they
// are (it removes Latin diacritics only) become their base letters, in
// documents and queries alike, so matching ignores accents in these scripts
// too. Every such letter and its base take two bytes in UTF-8, so the text
// is changed in place from byte `from` on.
void fold_accents(std::string &text, std::size_t from)
{
    for (std::size_t i = from; i + 1 < text.size(); ++i) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        if (lead < 0xCE || lead > 0xD1) continue;
        const unsigned char next = static_cast<unsigned char>(text[i + 1]);
        if ((next & 0xC0) != 0x80) continue;
        const char32_t c = static_cast<char32_t>(((lead & 0x1F) << 6) | (next & 0x3F));
        char32_t base = 0;
        switch (c) {
        case 0x0386: base = 0x0391; break;  // Ά
        case 0x0388: base = 0x0395; break;  // Έ
        case 0x0389: base = 0x0397; break;  // Ή
        case 0x038A: case 0x03AA: base = 0x0399; break;  // Ί Ϊ
        case 0x038C: base = 0x039F; break;  // Ό
        case 0x038E: case 0x03AB: base = 0x03A5; break;  // Ύ Ϋ
        case 0x038F: base = 0x03A9; break;  // Ώ
        case 0x03AC: base = 0x03B1; break;  // ά
        case 0x03AD: base = 0x03B5; break;  // έ
        case 0x03AE: base = 0x03B7; break;  // ή
        case 0x03AF: case 0x03CA: case 0x0390: base = 0x03B9; break;  // ί ϊ ΐ
        case 0x03CC: base = 0x03BF; break;  // ό
        case 0x03CD: case 0x03CB: case 0x03B0: base = 0x03C5; break;  // ύ ϋ ΰ
        case 0x03CE: base = 0x03C9; break;  // ώ
        case 0x0401: base = 0x0415; break;  // Ё
        case 0x0451: base = 0x0435; break;  // ё
        default: break;
        }
        if (base == 0) continue;
        text[i] = static_cast<char>(0xC0 | (base >> 6));
        text[i + 1] = static_cast<char>(0x80 | (base & 0x3F));
        ++i;
    }
}

namespace {
// Latin letters the tokenizer keeps as they are, since they do not
// decompose into a base letter and a mark (ł, ø, đ...), letters that
// people type as two (ß, æ, œ, þ), ligatures, and full-width Latin letters
// and digits: each becomes what people type for it, so "lodz" finds "Łódź"
// and "strasse" finds "Straße". Case stays; the tokenizer folds it.
std::string_view letter_folding(char32_t c)
{
    switch (c) {
    case 0x00C6: return "AE";
    case 0x00D0: case 0x0110: return "D";
    case 0x00D8: return "O";
    case 0x00DE: return "TH";
    case 0x00DF: return "ss";
    case 0x00E6: return "ae";
    case 0x00F0: case 0x0111: return "d";
    case 0x00F8: return "o";
    case 0x00FE: return "th";
    case 0x0126: return "H";
    case 0x0127: return "h";
    case 0x0131: return "i";
    case 0x0132: return "IJ";
    case 0x0133: return "ij";
    case 0x013F: case 0x0141: return "L";
    case 0x0140: case 0x0142: return "l";
    case 0x0152: return "OE";
    case 0x0153: return "oe";
    case 0x0166: return "T";
    case 0x0167: return "t";
    case 0x1E9E: return "SS";
    case 0xFB00: return "ff";
    case 0xFB01: return "fi";
    case 0xFB02: return "fl";
    case 0xFB03: return "ffi";
    case 0xFB04: return "ffl";
    case 0xFB05: case 0xFB06: return "st";
    default: break;
    }
    return {};
}

// Half-width katakana, U+FF66 to U+FF9D, as the full-width letters people
// also type.
constexpr std::u32string_view kHalfWidthKana =
    U"ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワン";
static_assert(kHalfWidthKana.size() == 0xFF9D - 0xFF66 + 1);

// The one letter a kana and a following voicing mark (U+3099) or
// semi-voicing mark (U+309A) make, as typed: か and ゙ are が. 0 when they
// stay apart. Katakana sit 0x60 after their hiragana.
char32_t voiced_kana(char32_t base, bool semi)
{
    const char32_t k = base >= 0x30A1 && base <= 0x30F6 ? base - 0x60 : base;
    const bool ha_row = k >= 0x306F && k <= 0x307B && (k - 0x306F) % 3 == 0;  // は ひ ふ へ ほ
    if (semi) return ha_row ? base + 2 : 0;
    if ((k >= 0x304B && k <= 0x3061 && (k - 0x304B) % 2 == 0) || k == 0x3064 || k == 0x3066 || k == 0x3068 ||
        ha_row || base == 0x309D || base == 0x30FD)
        return base + 1;
    if (base == 0x3046) return 0x3094;                      // う
    if (base == 0x30A6) return 0x30F4;                      // ウ
    if (base >= 0x30EF && base <= 0x30F2) return base + 8;  // ワ ヰ ヱ ヲ
    return 0;
}

// Every character fold_letters changes, and every kana or Hangul letter a
// mark or vowel may join, begins with one of these bytes in UTF-8.
bool may_fold(char b)
{
    const unsigned char c = static_cast<unsigned char>(b);
    return c == 0xC3 || c == 0xC4 || c == 0xC5 || c == 0xE1 || c == 0xE3 || c == 0xEF;
}
}  // namespace

void fold_letters(std::string &text)
{
    // Only what follows the first byte that may fold is rewritten.
    const auto first = std::find_if(text.begin(), text.end(), may_fold);
    if (first == text.end()) return;
    const std::size_t start_at = static_cast<std::size_t>(first - text.begin());
    std::string tail;
    tail.reserve(text.size() - start_at);
    std::size_t last_at = std::string::npos;  // where the last letter a mark may join begins in tail
    char32_t last = 0;
    for (std::size_t i = start_at; i < text.size();) {
        const std::size_t start = i;
        char32_t c = decode_char(text, i);
        bool mapped = true;  // c is no longer what text holds at start
        if (c >= 0xFF66 && c <= 0xFF9D) c = kHalfWidthKana[c - 0xFF66];
        else if (c == 0xFF9E) c = 0x3099;
        else if (c == 0xFF9F) c = 0x309A;
        else mapped = false;
        if (c == 0x3099 || c == 0x309A) {
            if (char32_t joined = last_at == std::string::npos ? 0 : voiced_kana(last, c == 0x309A)) {
                tail.resize(last_at);
                append_utf8(tail, joined);
                last_at = std::string::npos;
                continue;
            }
        } else if (c >= 0x11A8 && c <= 0x11C2 && last_at != std::string::npos && last >= 0xAC00 && last <= 0xD7A3 &&
                   (last - 0xAC00) % 28 == 0) {
            // A final consonant after a syllable that has none: one syllable.
            tail.resize(last_at);
            append_utf8(tail, last + (c - 0x11A7));
            last_at = std::string::npos;
            continue;
        } else if (c >= 0x1100 && c <= 0x1112) {
            // Hangul written as its letters (as file names often are): a
            // leading consonant, a vowel and perhaps a final consonant are
            // the one syllable people type.
            std::size_t j = i;
            const char32_t v = j < text.size() ? decode_char(text, j) : 0;
            if (v >= 0x1161 && v <= 0x1175) {
                char32_t syllable = 0xAC00 + ((c - 0x1100) * 21 + (v - 0x1161)) * 28;
                std::size_t k = j;
                const char32_t t = k < text.size() ? decode_char(text, k) : 0;
                if (t >= 0x11A8 && t <= 0x11C2) {
                    syllable += t - 0x11A7;
                    j = k;
                }
                i = j;
                append_utf8(tail, syllable);
                last_at = std::string::npos;
                continue;
            }
        }
        last_at = std::string::npos;
        if (c >= 0xFF01 && c <= 0xFF5E) {
            tail += static_cast<char>(c - 0xFF01 + 0x21);  // full-width forms of ASCII
        } else if (std::string_view to = letter_folding(c); !to.empty()) {
            tail += to;
        } else {
            last_at = tail.size();
            last = c;
            if (mapped)
                append_utf8(tail, c);
            else
                tail.append(text, start, i - start);  // ill-formed bytes stay as they were
        }
    }
    text.resize(start_at);
    text += tail;
}

void append_segmented(std::string &out, std::string_view text, bool fold)
{
    const std::size_t from = out.size();
    if (fold && std::any_of(text.begin(), text.end(), may_fold)) {
        // Folded before characters are set apart: a voicing mark must still
        // sit next to its kana.
        std::string folded(text);
        fold_letters(folded);
        append_segmented_raw(out, folded);
    } else {
        append_segmented_raw(out, text);
    }
    fold_accents(out, from);
}

void append_segmented_raw(std::string &out, std::string_view text)
{
    // Fast path: nothing below U+0E00 needs a space.
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0xE0) break;
        ++i;
    }
    out.append(text.substr(0, i));
    while (i < text.size()) {
        std::size_t start = i;
        char32_t c = decode_char(text, i);
        if (is_unspaced_char(c)) {
            out += ' ';
            out.append(text.substr(start, i - start));
            out += ' ';
        } else {
            out.append(text.substr(start, i - start));
        }
    }
}

std::string fulltext_columns()
{
    std::string out;
    for (int c = 0; c < kTextColumns; ++c) out += (c ? ", a" : "a") + std::to_string(c);
    return out;
}

void column_texts(yyjson_val *doc, std::string (&out)[kTextColumns], bool current_form)
{
    for (std::string &s : out) s.clear();
    if (!yyjson_is_obj(doc)) return;
    int column = 0;
    std::vector<yyjson_val *> stack;  // explicit: bodies may nest deeper than the C stack
    yyjson_obj_iter top = yyjson_obj_iter_with(doc);
    while (yyjson_val *key = yyjson_obj_iter_next(&top)) {
        std::string &text = out[std::min(column, kTextColumns - 1)];
        bool had_text = false;
        stack.assign(1, yyjson_obj_iter_get_val(key));
        while (!stack.empty()) {
            yyjson_val *v = stack.back();
            stack.pop_back();
            if (yyjson_is_str(v)) {
                if (!text.empty()) {
                    text += '\n';
                    if (current_form) {
                        text += kValueBreak;
                        text += '\n';
                    }
                }
                append_segmented(text, std::string_view(yyjson_get_str(v), yyjson_get_len(v)), current_form);
                had_text = true;
            } else if (yyjson_is_obj(v) || yyjson_is_arr(v)) {
                // Children go on the stack in reverse so they come off in order.
                std::size_t mark = stack.size();
                if (yyjson_is_obj(v)) {
                    yyjson_obj_iter it = yyjson_obj_iter_with(v);
                    while (yyjson_val *k = yyjson_obj_iter_next(&it)) stack.push_back(yyjson_obj_iter_get_val(k));
                } else {
                    yyjson_arr_iter it = yyjson_arr_iter_with(v);
                    while (yyjson_val *e = yyjson_arr_iter_next(&it)) stack.push_back(e);
                }
                std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(mark), stack.end());
            }
        }
        if (had_text) ++column;
    }
}

// ---------------------------------------------------------------------------
// TermSet
// ---------------------------------------------------------------------------
namespace {
// FNV-1a over 8 bytes at a time, then mixed: words are short, and a hash
// per byte would cost more than the probe it serves.
std::uint32_t hash_term(std::string_view s)
{
    std::uint64_t h = 1469598103934665603ull ^ s.size();
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        std::uint64_t w;
        std::memcpy(&w, s.data() + i, 8);
        h = (h ^ w) * 1099511628211ull;
        h ^= h >> 29;
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, s.data() + i, s.size() - i);
    h = (h ^ tail) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 32;
    return static_cast<std::uint32_t>(h);
}
}  // namespace

void TermSet::add(std::string_view term)
{
    if (term.empty()) return;
    if ((spans_.size() + 1) * 2 > slots_.size()) grow();
    const std::uint64_t h = hash_term(term);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
        const std::uint64_t slot = slots_[i];
        if (slot == 0) {
            spans_.push_back({static_cast<std::uint32_t>(arena_.size()), static_cast<std::uint32_t>(term.size())});
            arena_.append(term);
            slots_[i] = (h << 32) | spans_.size();
            return;
        }
        if ((slot >> 32) != h) continue;
        const Span &sp = spans_[(slot & 0xFFFFFFFFu) - 1];
        if (std::string_view(arena_).substr(sp.offset, sp.length) == term) return;
    }
}

void TermSet::grow()
{
    std::vector<std::uint64_t> old = std::move(slots_);
    slots_.assign(std::max<std::size_t>(1024, old.size() * 2), 0);
    const std::size_t mask = slots_.size() - 1;
    for (std::uint64_t slot : old) {
        if (slot == 0) continue;
        std::size_t i = (slot >> 32) & mask;
        while (slots_[i] != 0) i = (i + 1) & mask;
        slots_[i] = slot;
    }
}

std::vector<std::string_view> TermSet::terms() const
{
    std::vector<std::string_view> out;
    out.reserve(spans_.size());
    for (const Span &sp : spans_) out.push_back(std::string_view(arena_).substr(sp.offset, sp.length));
    return out;
}

// ---------------------------------------------------------------------------
// Tokenizer
// ---------------------------------------------------------------------------
Tokenizer::~Tokenizer()
{
    if (tok_ && api_) api_->xDelete(tok_);
}

Status Tokenizer::open(sqlite3 *db)
{
    fts5_api *fts = nullptr;
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &stmt, nullptr) != SQLITE_OK)
        return db_error(db, "preparing the word tokenizer");
    // The pointer binding is how FTS5 hands out its C interface.
    sqlite3_bind_pointer(stmt, 1, static_cast<void *>(&fts), "fts5_api_ptr", nullptr);
    sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (fts == nullptr) return Status::error("The full-text search module is not available.");
    api_ = std::make_unique<fts5_tokenizer>();
    void *user_data = nullptr;
    if (fts->xFindTokenizer(fts, kTokenizerName, &user_data, api_.get()) != SQLITE_OK)
        return Status::error("The full-text tokenizer is not available.");
    const char *args[] = {"remove_diacritics", "2"};
    if (api_->xCreate(user_data, args, 2, &tok_) != SQLITE_OK) {
        tok_ = nullptr;
        return Status::error("The full-text tokenizer cannot be created.");
    }
    return Status::ok();
}

namespace {
// Only documents hold kValueBreak as a word: a query typing it alone would
// match every break, and as a typo or prefix candidate it would only cost.
void add_token(std::vector<Tokenizer::Token> &out, std::string_view token, int start, int end)
{
    if (token != kValueBreak) out.push_back({std::string(token), start, end});
}

void add_token(TermSet &out, std::string_view token, int /*start*/, int /*end*/)
{
    if (token != kValueBreak) out.add(token);
}

// The token callback runs inside SQLite's C code, which no exception may
// unwind through: a failed allocation is caught there, the split is
// stopped, and the exception is thrown again once SQLite has returned.
template <class Sink>
struct Split {
    Sink *sink;
    bool out_of_memory = false;
};

template <class Sink>
int on_token(void *ctx, int /*flags*/, const char *token, int len, int start, int end)
{
    auto *split = static_cast<Split<Sink> *>(ctx);
    try {
        if (len > 0) add_token(*split->sink, std::string_view(token, static_cast<std::size_t>(len)), start, end);
    } catch (...) {
        split->out_of_memory = true;
        return SQLITE_NOMEM;
    }
    return SQLITE_OK;
}
}  // namespace

template <class Sink>
Status Tokenizer::split(std::string_view text, int flags, Sink &sink) const
{
    if (!tok_) return Status::error("The full-text tokenizer is not open.");
    Split<Sink> split{&sink};
    int rc = api_->xTokenize(tok_, &split, flags, text.data(), static_cast<int>(text.size()), on_token<Sink>);
    if (split.out_of_memory) throw std::bad_alloc();
    if (rc != SQLITE_OK) return Status::error("The text cannot be split into words.");
    return Status::ok();
}

Status Tokenizer::tokenize(std::string_view text, std::vector<Token> &out, bool for_query) const
{
    out.clear();
    return split(text, for_query ? FTS5_TOKENIZE_QUERY : FTS5_TOKENIZE_DOCUMENT, out);
}

Status Tokenizer::collect(std::string_view text, TermSet &terms) const
{
    return split(text, FTS5_TOKENIZE_DOCUMENT, terms);
}

// ---------------------------------------------------------------------------
// Queries
// ---------------------------------------------------------------------------
namespace {

// True when text holds only combining marks (an empty gap included).
bool only_marks(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();)
        if (!is_combining_mark(decode_char(text, i))) return false;
    return true;
}

// Adds the units of text outside double quotes: words, and runs of unspaced
// characters that stay together across combining marks.
Status add_plain_units(const Tokenizer &tok, std::string_view text, std::vector<QueryUnit> &units)
{
    std::vector<Tokenizer::Token> tokens;
    if (Status st = tok.tokenize(text, tokens, true); !st.is_ok()) return st;
    bool run_open = false;  // the last unit is a run that may go on
    int last_end = 0;
    for (const Tokenizer::Token &t : tokens) {
        std::string_view gap = text.substr(static_cast<std::size_t>(last_end),
                                           static_cast<std::size_t>(std::max(0, t.start - last_end)));
        if (run_open && !only_marks(gap)) run_open = false;
        last_end = t.end;
        std::string word;
        std::string_view folded(t.text);
        for (std::size_t i = 0; i < folded.size();) {
            std::size_t start = i;
            char32_t c = decode_char(folded, i);
            if (!is_unspaced_char(c)) {
                word.append(folded.substr(start, i - start));
                run_open = false;
                continue;
            }
            if (!word.empty()) {
                units.push_back({{std::move(word)}, false, false});
                word.clear();
            }
            if (!run_open) units.push_back({{}, true, false});
            units.back().tokens.emplace_back(folded.substr(start, i - start));
            run_open = true;
        }
        if (!word.empty()) units.push_back({{std::move(word)}, false, false});
    }
    return Status::ok();
}

// White space of every script, as Unicode lists it.
bool is_space_char(char32_t c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

}  // namespace

Status parse_query(const Tokenizer &tok, std::string_view raw_query, bool fold, std::vector<QueryUnit> &units)
{
    units.clear();
    // Accents and letters the tokenizer keeps are folded as in documents
    // (append_segmented).
    std::string folded(raw_query);
    fold_accents(folded);
    if (fold) fold_letters(folded);
    const std::string_view query(folded);
    bool closed = true;
    for (std::size_t i = 0; i < query.size();) {
        std::size_t quote = query.find('"', i);
        if (quote == std::string_view::npos) quote = query.size();
        if (Status st = add_plain_units(tok, query.substr(i, quote - i), units); !st.is_ok()) return st;
        if (quote >= query.size()) break;
        std::size_t end = query.find('"', quote + 1);
        closed = end != std::string_view::npos;
        if (!closed) end = query.size();
        std::string segmented;
        append_segmented_raw(segmented, query.substr(quote + 1, end - quote - 1));
        std::vector<Tokenizer::Token> tokens;
        if (Status st = tok.tokenize(segmented, tokens, true); !st.is_ok()) return st;
        if (!tokens.empty()) {
            QueryUnit phrase{{}, true, false};
            for (Tokenizer::Token &t : tokens) phrase.tokens.push_back(std::move(t.text));
            // One word in quotes is still exact: no typos, no prefix.
            units.push_back(std::move(phrase));
        } else {
            closed = true;
        }
        i = end + 1;
    }
    if (!units.empty()) {
        QueryUnit &last = units.back();
        // A word being typed, or a phrase whose closing quote is not typed
        // yet, may be the beginning of a longer word; a space typed after it
        // (of any script, before any lone quote) says the word is complete.
        // Other marks do not: "caf*" is still the beginning of a word.
        std::string_view typed = query.substr(0, query.find_last_not_of('"') + 1);
        std::size_t tail = typed.size();
        while (tail > 0 && (static_cast<unsigned char>(typed[tail - 1]) & 0xC0) == 0x80) --tail;
        if (tail > 0) --tail;
        bool ended = !typed.empty() && is_space_char(decode_char(typed, tail));
        last.prefix = (!last.phrase || !closed) && !ended;
    }
    return Status::ok();
}

}  // namespace korrin
