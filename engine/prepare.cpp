/*
 * Preparing a batch's documents for the store, ahead of the writer.
 *
 * Adding a document is two kinds of work: reading it (parsing, checking its
 * id, writing its compact body, splitting its text into columns and words,
 * finding its words in the batch's vocabulary) and storing it (SQLite's
 * tables and its full-text index). Only the second needs the database. A
 * big batch therefore reads on a second thread, a few chunks of documents
 * ahead of the writer: about a quarter of the work leaves the writer's path
 * on a machine with two cores. A small batch reads in line; a thread would
 * cost more than it saves.
 *
 * The threads meet only at the queue of chunks below. The reader owns the
 * batch, the tokenizer, the vocabulary and the attribute counts until it
 * has finished; the writer looks at them after joining it.
 */
#include "kr_search.h"

#include <yyjson.h>

#include <cstdlib>
#include <system_error>

namespace korrin {

namespace {
// How far the reader may run ahead: kChunksAhead chunks of at most
// kChunkDocuments documents, a chunk closing once it holds kChunkBytes. The
// bytes bound keeps a batch of big documents from being held twice over.
constexpr std::size_t kChunkDocuments = 64;
constexpr std::size_t kChunkBytes = 1 << 20;
constexpr std::size_t kChunksAhead = 8;
// Below this, the batch is read in line.
constexpr std::size_t kThreadedDocuments = 128;

// Slots are reused for the next documents; one that held a big document
// gives its memory back rather than keep it for the rest of the batch, so
// the chunks never hold much more than their kChunkBytes each.
void release_if_large(PreparedDocument &doc)
{
    constexpr std::size_t kKept = kChunkBytes / kChunkDocuments;
    if (doc.body.capacity() > kKept) std::string().swap(doc.body);
    for (std::string &t : doc.text)
        if (t.capacity() > kKept) std::string().swap(t);
}
}  // namespace

struct BatchReader::Chunk {
    std::vector<PreparedDocument> docs = std::vector<PreparedDocument>(kChunkDocuments);
    std::size_t count = 0;
    bool last = false;  // nothing follows: the batch ended, or reading failed
};

BatchReader::BatchReader(Batch &batch, std::string_view primary_key, const Tokenizer &tokenizer, bool current_form)
    : batch_(batch), primary_key_(primary_key), tokenizer_(tokenizer), current_form_(current_form)
{
}

BatchReader::~BatchReader() { stop(); }

void BatchReader::start()
{
    if (batch_.size() < kThreadedDocuments) return;
    for (std::size_t i = 0; i < kChunksAhead; ++i) {
        chunks_.push_back(std::make_unique<Chunk>());
        free_.push_back(chunks_.back().get());
    }
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error &) {
        // No thread to be had: read in line instead.
        free_.clear();
        chunks_.clear();
    }
}

void BatchReader::stop()
{
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool BatchReader::prepare(std::size_t i, PreparedDocument &out)
{
    yyjson_val *doc = batch_.document(i);
    if (doc == nullptr) {
        status_ = batch_.invalid();
        return false;
    }
    if (Status st = document_id(doc, primary_key_, i + 1, out.id); !st.is_ok()) {
        status_ = st;
        return false;
    }
    std::size_t len = 0;
    char *json = yyjson_val_write_opts(doc, 0, nullptr, &len, nullptr);
    if (json == nullptr) {
        status_ = Status::error("Document " + std::to_string(i + 1) + " of the batch cannot be written.");
        return false;
    }
    out.body.assign(json, len);
    std::free(json);
    column_texts(doc, out.text, current_form_);
    for (const std::string &t : out.text)
        if (Status st = tokenizer_.collect(t, terms_); !st.is_ok()) {
            status_ = st;
            return false;
        }
    for (std::string_view key : top_level_attributes(doc)) fields_[std::string(key)] += 1;
    return true;
}

void BatchReader::run()
{
    std::size_t next = 0;
    try {
        for (bool last = false; !last;) {
            Chunk *chunk = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return stopping_ || !free_.empty(); });
                if (stopping_) return;
                chunk = free_.front();
                free_.pop_front();
            }
            chunk->count = 0;
            for (PreparedDocument &doc : chunk->docs) release_if_large(doc);
            std::size_t bytes = 0;
            while (chunk->count < kChunkDocuments && bytes < kChunkBytes && next < batch_.size()) {
                PreparedDocument &doc = chunk->docs[chunk->count];
                if (!prepare(next, doc)) {
                    last = true;
                    break;
                }
                bytes += doc.body.size();
                for (const std::string &t : doc.text) bytes += t.size();
                ++next;
                ++chunk->count;
            }
            last = last || next >= batch_.size();
            chunk->last = last;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ready_.push_back(chunk);
            }
            changed_.notify_all();
        }
    } catch (...) {
        // Out of memory: no exception may leave the thread, and a message
        // would need memory too. The writer sees the reading end without a
        // last chunk and says why once it has joined the thread.
        {
            std::lock_guard<std::mutex> lock(mutex_);
            broken_ = true;
        }
        changed_.notify_all();
    }
}

const PreparedDocument *BatchReader::next()
{
    if (!thread_.joinable() && chunks_.empty()) {
        if (done_ || next_ >= batch_.size() || !prepare(next_, single_)) {
            done_ = true;
            return nullptr;
        }
        ++next_;
        return &single_;
    }
    for (;;) {
        if (current_ != nullptr) {
            if (position_ < current_->count) return &current_->docs[position_++];
            const bool last = current_->last;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                free_.push_back(current_);
            }
            changed_.notify_all();
            current_ = nullptr;
            if (last) break;
        }
        if (done_) return nullptr;
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return broken_ || !ready_.empty(); });
        if (ready_.empty()) break;
        current_ = ready_.front();
        ready_.pop_front();
        position_ = 0;
    }
    // The reader is done with everything it owns.
    done_ = true;
    if (thread_.joinable()) thread_.join();
    if (broken_) status_ = Status::error("The batch cannot be read: the server is out of memory.");
    return nullptr;
}

}  // namespace korrin
