#pragma once

// The host-wide lock of one board. Two processes on one board take each
// other's replies and write each other's registers, so an open adapter
// holds a lock that every user's processes see: one file per board in the
// system's lock folder, named by the adapter's hardware address (not its
// interface name, which another network namespace may reuse). The lock is
// a POSIX record lock: the kernel drops it when its process dies, and a
// forked child does not inherit it. Neither the environment nor a link
// planted by another user can move it elsewhere: a lock that cannot be
// taken keeps the board closed.

#include <cstddef>
#include <memory>
#include <string>

namespace KORVIK {

/// Who holds a board, as told by the kernel or the lock file's text.
struct LockHolder {
    long pid = 0;
    std::string command;
};

/// Reads a lock file's text, "<pid> <command>\n"; the command is cut to 64
/// characters and anything outside printable ASCII is dropped. False when
/// the text holds no positive process id. Pure, for any bytes.
bool parse_lock_holder(const char* data, std::size_t len, LockHolder& holder);

/// The text a holder writes into its lock file.
std::string lock_file_text(long pid, const std::string& command);

/// "PID 123 (korvik)", or "another process" when nothing is known.
std::string describe_lock_holder(const LockHolder& holder);

/// Folder of the lock files: /run/lock.
std::string board_lock_directory();

/// The lock file's name for an interface: its hardware address from sysfs
/// (12 hex digits), else the interface name made safe for a file name.
std::string board_lock_name(const std::string& interface);

class BoardLock {
public:
    enum class Result { TAKEN, BUSY, FAILED };

    /// Takes the lock named `name` in `directory`, trying again for up to
    /// `wait_ms` while another process holds it. On BUSY `message` says who
    /// holds it, on FAILED why the lock could not be taken.
    static Result take(const std::string& directory, const std::string& name, unsigned wait_ms,
                       std::unique_ptr<BoardLock>& lock, std::string& message);

    ~BoardLock();
    BoardLock(const BoardLock&) = delete;
    BoardLock& operator=(const BoardLock&) = delete;

private:
    explicit BoardLock(std::string path);
    std::string path;
};

} // namespace KORVIK
