// vorx a: the entries read in order, their blocks compressed side by side and written in
// order.
#include "tools/add_write.h"

#include <algorithm>
#include <deque>
#include <utility>

#include "platform/platform.h"
#include "tools/commands.h"
#include "tools/parallel_encode.h"

namespace tool {
namespace {

// Reads the entries' bytes in order, a chunk at a time: every input exactly as listed.
class Reader {
public:
    enum class Event { Begin, Chunk, End, LeftOut, Failed, Finished };

    explicit Reader(const std::vector<EntrySource>& entries) : entries_(entries) {}
    ~Reader() {
        if (fd_ >= 0) platform::FileClose(fd_);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // The bytes the next event may read.
    size_t NextSize() const {
        if (index_ == entries_.size() || !begun_) return 0;
        return static_cast<size_t>(
            std::min<uint64_t>(ParallelEncoder::ChunkSize(), Size() - done_));
    }
    // The next event of entry `*entry`: Chunk fills `chunk`, LeftOut and Failed `message`.
    Event Next(size_t* entry, std::vector<uint8_t>* chunk, std::string* message);

private:
    uint64_t Size() const {
        const EntrySource& e = entries_[index_];
        return e.input ? e.input->status.size : e.memory.size();
    }
    Event Read(const EntrySource& e, std::vector<uint8_t>* chunk, std::string* message);
    Event Finish(const EntrySource& e, std::string* message);

    const std::vector<EntrySource>& entries_;
    size_t index_ = 0;
    bool begun_ = false;
    uint64_t done_ = 0;  // bytes of the entry read
    int fd_ = -1;
    host::FileStamp stamp_;  // the open file's, when it was opened
    InputOpener opener_;
};

Reader::Event Reader::Next(size_t* entry, std::vector<uint8_t>* chunk, std::string* message) {
    *entry = index_;
    if (index_ == entries_.size()) return Event::Finished;
    const EntrySource& e = entries_[index_];
    if (!begun_) {
        if (e.input) {
            const InputOpener::Result r = opener_.Open(*e.input, &fd_, &stamp_, message);
            if (r == InputOpener::Result::Refused) return Event::Failed;
            if (r == InputOpener::Result::LeftOut) {
                ++index_;
                return Event::LeftOut;
            }
        }
        begun_ = true;
        done_ = 0;
        return Event::Begin;
    }
    return done_ < Size() ? Read(e, chunk, message) : Finish(e, message);
}

Reader::Event Reader::Read(const EntrySource& e, std::vector<uint8_t>* chunk,
                           std::string* message) {
    const size_t n = NextSize();
    chunk->resize(n);
    if (!e.input) {
        std::copy_n(e.memory.data() + done_, n, chunk->data());
    } else {
        const int64_t got = platform::FileRead(fd_, chunk->data(), n);
        if (got < 0) {
            *message = SystemFailure("cannot read '" + e.input->hostPath + "'");
            return Event::Failed;
        }
        if (static_cast<size_t>(got) < n) {
            *message = "'" + e.input->hostPath +
                       "' changed while it was read: it was listed with " + std::to_string(Size()) +
                       " bytes and ended after " +
                       std::to_string(done_ + static_cast<uint64_t>(got));
            return Event::Failed;
        }
    }
    done_ += n;
    return Event::Chunk;
}

// The end of an entry: an input ends where it was listed to, unchanged since it was opened.
Reader::Event Reader::Finish(const EntrySource& e, std::string* message) {
    if (e.input) {
        uint8_t extra;
        const int64_t more = platform::FileRead(fd_, &extra, 1);
        host::FileStamp now;
        const bool same = more == 0 && host::StampOf(fd_, &now) && now == stamp_;
        platform::FileClose(fd_);
        fd_ = -1;
        if (!same) {
            *message = "'" + e.input->hostPath + "' changed while it was read" +
                       (more > 0 ? ": it grew beyond the " + std::to_string(Size()) +
                                       " bytes it was listed with"
                                 : std::string());
            return Event::Failed;
        }
    }
    begun_ = false;
    ++index_;
    return Event::End;
}

struct Pending {
    Reader::Event kind;  // Begin, Chunk or End
    size_t entry;
};

// The archive's writing, step by step, in entry order.
struct Writing {
    const std::vector<EntrySource>& entries;
    vorx::ArchiveWriter& writer;
    Progress& progress;
    const std::string& archive;
    ParallelEncoder encoder;
    Reader reader;
    std::deque<Pending> order;
    bool readAll = false;
    uint64_t done = 0;
    WriteOutcome out;

    bool Stop(const std::string& message, int code) {
        out.failure = message;
        out.exitCode = code;
        return false;
    }
    bool WriterFailed(uint64_t pending) {
        const std::string what = "cannot write '" + archive + "'";
        return Stop(writer.FailedOnFile() ? SystemFailure(what, host::ParentFolder(archive),
                                                          writer.Position() + pending, true)
                                          : what + ": " + writer.Error(),
                    kExitFatal);
    }
    // Reads ahead while the memory bound admits; false when everything stops.
    bool ReadAhead();
    // Writes what is finished, in order, waiting when nothing more can be read; false when
    // everything stops.
    bool WriteFinished();
};

bool Writing::ReadAhead() {
    while (!readAll && !gInterrupted && encoder.HasRoom(reader.NextSize())) {
        size_t entry;
        std::vector<uint8_t> chunk;
        std::string message;
        const Reader::Event event = reader.Next(&entry, &chunk, &message);
        switch (event) {
            case Reader::Event::Chunk:
                encoder.Submit(std::move(chunk), entries[entry].options.password);
                [[fallthrough]];
            case Reader::Event::Begin:
            case Reader::Event::End:
                order.push_back(Pending{event, entry});
                break;
            case Reader::Event::LeftOut:
                progress.Done();
                Error("warning: " + message);
                out.exitCode = kExitWarning;
                break;
            case Reader::Event::Failed:
                return Stop(message + "; nothing written", kExitFatal);
            case Reader::Event::Finished:
                readAll = true;
                break;
        }
    }
    return true;
}

bool Writing::WriteFinished() {
    while (!order.empty() && !gInterrupted) {
        const Pending p = order.front();
        const EntrySource& e = entries[p.entry];
        if (p.kind == Reader::Event::Begin) {
            progress.SetFile(e.input ? e.input->display : e.options.name);
            if (!writer.BeginEntry(e.options)) return WriterFailed(0);
        } else if (p.kind == Reader::Event::End) {
            if (!writer.EndEntry()) return WriterFailed(0);
            if (e.input) ++out.files;
        } else {
            const bool wait = readAll || !encoder.HasRoom(reader.NextSize());
            vorx::FinishedBlock block;
            std::string error;
            const ParallelEncoder::Taken taken = encoder.TakeNext(wait, &block, &error);
            if (taken == ParallelEncoder::Taken::NotYet) return true;  // read meanwhile
            if (taken != ParallelEncoder::Taken::Block)
                return Stop(
                    "cannot compress '" + e.options.name + "': " + error,
                    taken == ParallelEncoder::Taken::OutOfMemory ? kExitNoMemory : kExitFatal);
            if (!writer.AppendBlock(block)) return WriterFailed(block.bytes.size());
            done += block.length;
            if (e.input) out.bytes += block.length;
            progress.Show(done);
        }
        order.pop_front();
    }
    return true;
}

}  // namespace

WriteOutcome WriteEntries(const std::vector<EntrySource>& entries, int level, unsigned threads,
                          vorx::ArchiveWriter* writer, Progress* progress,
                          const std::string& archive) {
    Writing w{entries,         *writer, *progress, archive, ParallelEncoder(level, threads),
              Reader(entries), {},      false,     0,       {}};
    while (w.ReadAhead() && w.WriteFinished()) {
        if (gInterrupted) {
            w.Stop("interrupted; nothing written", kExitInterrupted);
            break;
        }
        if (w.readAll && w.order.empty()) break;
    }
    return w.out;
}

}  // namespace tool
