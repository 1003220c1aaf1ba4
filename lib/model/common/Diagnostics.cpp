#include "model/common/Diagnostics.h"

#include <iostream>
#include <memory>
#include <mutex>

namespace KORVIK {

namespace {

std::mutex sink_mutex;
std::shared_ptr<const DiagnosticSink> current_sink;

std::shared_ptr<const DiagnosticSink> get_sink()
{
    std::lock_guard<std::mutex> lock(sink_mutex);
    return current_sink;
}

} // namespace

void set_diagnostic_sink(DiagnosticSink sink)
{
    auto next = sink ? std::make_shared<const DiagnosticSink>(std::move(sink)) : nullptr;
    std::lock_guard<std::mutex> lock(sink_mutex);
    current_sink = std::move(next);
}

DiagLine::~DiagLine()
{
    const std::string s = text.str();
    if (s.empty())
        return;
    // the sink is called outside the lock, so a slow sink blocks nobody else
    auto sink = get_sink();
    if (!sink) {
        std::cerr << s << std::flush;
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
