#include "model/common/Diagnostics.h"

#include <atomic>
#include <iostream>
#include <memory>
#include <mutex>
#include <vector>

namespace KORVIK {

namespace {

std::mutex sink_mutex;
std::shared_ptr<const DiagnosticSink> current_sink;
// most programs never set a sink: no lock for them
std::atomic<bool> have_sink{false};

std::shared_ptr<const DiagnosticSink> get_sink()
{
    if (!have_sink.load(std::memory_order_acquire))
        return nullptr;
    std::lock_guard<std::mutex> lock(sink_mutex);
    return current_sink;
}

// Streams of finished lines, kept for the next line of the same thread.
// Nested statements (an operand that itself logs) each take their own.
struct StreamPool {
    std::vector<std::ostringstream*> spare;
    ~StreamPool();
};

// trivially destructible, so still readable while the thread's pool goes
thread_local bool pool_gone = false;
thread_local StreamPool pool;

StreamPool::~StreamPool()
{
    pool_gone = true;
    for (std::ostringstream* s : spare)
        delete s;
    spare.clear();
}

std::ostringstream* take_stream()
{
    if (!pool_gone && !pool.spare.empty()) {
        std::ostringstream* s = pool.spare.back();
        pool.spare.pop_back();
        return s;
    }
    return new std::ostringstream;
}

void give_back(std::ostringstream* s)
{
    constexpr size_t KEPT = 4;
    if (pool_gone || pool.spare.size() >= KEPT) {
        delete s;
        return;
    }
    // as a new stream starts: empty, decimal, no width or fill left over
    s->str(std::string());
    s->clear();
    s->flags(std::ios_base::dec | std::ios_base::skipws);
    s->width(0);
    s->precision(6);
    s->fill(' ');
    try {
        pool.spare.push_back(s);
    } catch (...) {
        delete s;
    }
}

} // namespace

void set_diagnostic_sink(DiagnosticSink sink)
{
    auto next = sink ? std::make_shared<const DiagnosticSink>(std::move(sink)) : nullptr;
    std::lock_guard<std::mutex> lock(sink_mutex);
    have_sink.store(next != nullptr, std::memory_order_release);
    current_sink = std::move(next);
}

DiagLine::DiagLine() : text(take_stream())
{
}

DiagLine::~DiagLine()
{
    if (!text)
        return;
    try {
        diag_text(text->str());
    } catch (...) {
        // out of memory for the copy: the line is lost, the caller is not
    }
    give_back(text);
}

void diag_text(const std::string& s)
{
    if (s.empty())
        return;
    // the sink is called outside the lock, so a slow sink blocks nobody else
    auto sink = get_sink();
    if (!sink) {
        std::cerr.write(s.data(), std::streamsize(s.size()));
        // the standard error stream flushes each write by itself unless a
        // program changed that
        if (!(std::cerr.flags() & std::ios_base::unitbuf))
            std::cerr.flush();
        return;
    }
    try {
        std::string::size_type start = 0;
        while (start < s.size()) {
            std::string::size_type end = s.find('\n', start);
            if (end == std::string::npos)
                end = s.size();
            (*sink)(s.substr(start, end - start));
            start = end + 1;
        }
    } catch (...) {
        // a failing sink must not take the library down in a destructor
    }
}

} // namespace KORVIK
