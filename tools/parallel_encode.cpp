#include "tools/parallel_encode.h"

#include <new>
#include <utility>

#include "writer/compressor.h"

namespace tool {
namespace {

// What a queued chunk counts against the bound: its bytes, and a share for every chunk that
// bounds their number when the files are small.
size_t Cost(size_t length) { return length + (64u << 10); }

// Encodes `job`'s chunk with the thread's compressor (made when there is none).
template <typename Job>
void Encode(int level, std::unique_ptr<vorx::Compressor>* compressor, Job* job) {
    try {
        if (!*compressor) *compressor = std::make_unique<vorx::Compressor>(level);
        job->ok = vorx::EncodeChunk((*compressor)->AsBlockEncoder(), job->chunk.data(),
                                    job->chunk.size(), job->password, &job->block, &job->error);
    } catch (const std::bad_alloc&) {
        compressor->reset();
        job->ok = false;
        job->outOfMemory = true;
        job->error = "out of memory";
    }
    job->chunk = {};
}

}  // namespace

size_t ParallelEncoder::ChunkSize() { return vorx::kWriterBlockSize; }

ParallelEncoder::ParallelEncoder(int level, unsigned threads)
    : level_(level), budget_((2 * size_t{threads} + 2) * ChunkSize()) {
    for (unsigned i = 0; i < threads; ++i) {
        auto thread = std::make_unique<host::Thread>();
        // Without threads, TakeNext encodes on the command's own.
        if (!thread->Start(&ParallelEncoder::Run, this)) break;
        threads_.push_back(std::move(thread));
    }
}

ParallelEncoder::~ParallelEncoder() {
    {
        host::Locked lock(mutex_);
        stopping_ = true;
        changed_.NotifyAll();
    }
    for (auto& thread : threads_) thread->Join();
}

bool ParallelEncoder::HasRoom(size_t length) {
    host::Locked lock(mutex_);
    return inFlight_ == 0 || inFlight_ + Cost(length) <= budget_;
}

void ParallelEncoder::Submit(std::vector<uint8_t> chunk,
                             const std::optional<std::string>& password) {
    Job job;
    job.cost = Cost(chunk.size());
    job.chunk = std::move(chunk);
    job.password = password;
    host::Locked lock(mutex_);
    inFlight_ += job.cost;
    jobs_.push_back(std::move(job));
    changed_.NotifyAll();
}

ParallelEncoder::Taken ParallelEncoder::TakeNext(bool wait, vorx::FinishedBlock* block,
                                                 std::string* error) {
    host::Locked lock(mutex_);
    if (jobs_.empty()) {
        *error = "no block is queued";
        return Taken::Failed;
    }
    Job& job = jobs_.front();
    if (threads_.empty() && !job.started) {
        job.started = true;
        ++next_;
        Encode(level_, &ownCompressor_, &job);
        job.finished = true;
    }
    while (wait && !job.finished) changed_.Wait(mutex_);
    if (!job.finished) return Taken::NotYet;
    const Taken taken = job.ok            ? Taken::Block
                        : job.outOfMemory ? Taken::OutOfMemory
                                          : Taken::Failed;
    *block = std::move(job.block);
    *error = std::move(job.error);
    inFlight_ -= job.cost;
    jobs_.pop_front();
    --next_;
    changed_.NotifyAll();
    return taken;
}

void ParallelEncoder::Run(void* self) { static_cast<ParallelEncoder*>(self)->Work(); }

void ParallelEncoder::Work() {
    std::unique_ptr<vorx::Compressor> compressor;
    host::Locked lock(mutex_);
    for (;;) {
        while (!stopping_ && next_ == jobs_.size()) changed_.Wait(mutex_);
        if (stopping_) return;
        // A deque keeps its elements in place while others are added or the front taken,
        // and the front is taken only once it is finished.
        Job& job = jobs_[next_++];
        job.started = true;
        mutex_.Unlock();
        Encode(level_, &compressor, &job);
        mutex_.Lock();
        job.finished = true;
        changed_.NotifyAll();
    }
}

}  // namespace tool
