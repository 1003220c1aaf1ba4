#pragma once

// What every command shares: the global options, the two kinds of failure
// with their exit status, opening a board from its command-line name,
// driving the library's loop, progress lines and JSON output.

#include <chrono>
#include <functional>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace KORVIK {
class USBDevice;
}

namespace korvik_cli {

using Json = nlohmann::ordered_json;

enum ExitStatus { EXIT_OK = 0, EXIT_FAILURE_ = 1, EXIT_USAGE = 2 };

struct Options {
    bool json = false;
    bool verbose = false;
};

/// The command line asks for something that cannot be (exit status 2).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The command could not be done: no such board, bad value, refused file (exit status 1).
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using Device = std::unique_ptr<KORVIK::USBDevice>;

/// Opens BOARD: a serial number, an interface name, sim:CHIP (a simulated
/// board with the chip's defaults, living for this command) or sim:CHIP:FILE
/// (a simulated board made from a settings file) or sim:replay:FILE (a
/// recorded board replayed from a capture file). Throws Failure.
Device open_board(const std::string& board);

/// A simulated board of this chip that nobody else uses, with the chip's
/// defaults loaded (for dry runs and comparisons).
Device open_scratch_board(const std::string& chip);

/// Waits on the library's descriptors and dispatches its events until
/// done() holds, the time is up or the user interrupts; true when done() held.
bool run_loop(std::chrono::milliseconds limit, const std::function<bool()>& done = nullptr);

/// True once SIGINT or SIGTERM arrived (commands that run until stopped).
bool interrupted();

/// Shows what a long operation is doing on a terminal; silent with --json
/// or when standard error is not a terminal.
class Progress {
public:
    Progress(const Options& options, const std::string& text);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

private:
    bool shown;
};

/// Standard error for korvik's own messages. Without -v, std::cerr itself is
/// silenced, because the program core writes its diagnostic lines there.
std::ostream& messages();

/// Hides (or with -v shows) the diagnostic lines of the library and of the
/// program core; call before the library starts.
void route_diagnostics(bool verbose);

/// One JSON document on standard output.
void print_json(const Json& document);

/// The board's identity fields shared by list and info.
Json board_identity(const KORVIK::USBDevice& device);

/// What a commit wrote, register indices in the order written.
struct CommitResult {
    std::vector<unsigned> reached;     ///< written while the board was answering
    std::vector<unsigned> not_reached; ///< written after the board failed
    bool board_failed = false;
};

/// Runs `commit` (which ends in commit_registers) and follows which
/// registers reached the board. On a real board it then waits for a chip
/// reprogramming that the commit started (carrier or modulation changes).
CommitResult tracked_commit(KORVIK::USBDevice& device, const std::function<void()>& commit);

/// Register names as one comma-separated text.
std::string register_names(const KORVIK::USBDevice& device, const std::vector<unsigned>& indices);

} // namespace korvik_cli
