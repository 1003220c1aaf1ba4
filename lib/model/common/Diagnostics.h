#pragma once

// Diagnostic lines of the library. They go to the standard error stream
// unless a program routes them elsewhere (the command-line tool hides them
// unless asked), so every line passes through diag() rather than std::cerr.

#include <functional>
#include <ios>
#include <ostream>
#include <sstream>
#include <string>

namespace KORVIK {

/// Receives one complete diagnostic line, without its newline.
using DiagnosticSink = std::function<void(const std::string&)>;

/// Routes diagnostic lines to `sink`; an empty sink restores the standard
/// error stream. The sink runs on whichever thread wrote the line (the direct
/// SPI board has a thread of its own) and may not call set_diagnostic_sink.
void set_diagnostic_sink(DiagnosticSink sink);

/// Hands on finished text: whole lines, each ending in a newline. The
/// report exchanges log every request and reply this way; a formatting
/// stream per line would cost more than the exchange itself.
void diag_text(const std::string& text);

/// Collects one diagnostic statement; its text is handed on when the
/// statement ends, so lines of two threads never mix.
class DiagLine {
public:
    DiagLine();
    DiagLine(DiagLine&& other) noexcept : text(other.text) { other.text = nullptr; }
    ~DiagLine();
    DiagLine(const DiagLine&) = delete;
    DiagLine& operator=(const DiagLine&) = delete;
    DiagLine& operator=(DiagLine&&) = delete;

    template <typename T>
    DiagLine& operator<<(const T& value)
    {
        *text << value;
        return *this;
    }
    DiagLine& operator<<(std::ostream& (*manipulator)(std::ostream&))
    {
        manipulator(*text);
        return *this;
    }
    DiagLine& operator<<(std::ios_base& (*manipulator)(std::ios_base&))
    {
        manipulator(*text);
        return *this;
    }

private:
    // taken from a per-thread pool: setting up a stream (locale and all)
    // costs more than most lines
    std::ostringstream* text;
};

/// Start of one diagnostic statement: `diag() << "report_io: timeout" << std::endl;`
inline DiagLine diag()
{
    return DiagLine();
}

} // namespace KORVIK
