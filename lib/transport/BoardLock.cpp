#include "transport/BoardLock.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace KORVIK {

namespace {

constexpr std::size_t MAX_COMMAND = 64;
constexpr unsigned RETRY_MS = 50;

// A process holds each lock file open once: closing any descriptor of a
// file drops the process's record locks on it, so a second open and close
// (a retried board, a second scan) would free the board for others.
struct Held {
    int fd = -1;
    unsigned users = 0;
    pid_t pid = 0; ///< the process that holds it: record locks do not pass to a forked child
};
std::mutex held_mutex;
std::map<std::string, Held> held;

std::string own_command()
{
    std::ifstream comm("/proc/self/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

std::string printable_command(const std::string& text)
{
    std::string command;
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '\n' || command.size() >= MAX_COMMAND)
            break;
        // escape sequences and other control bytes never reach a terminal
        if (c >= 0x20 && c < 0x7F)
            command += ch;
    }
    return command;
}

LockHolder holder_of(int fd, const struct flock& conflict)
{
    LockHolder h;
    char text[256];
    const ssize_t n = pread(fd, text, sizeof text, 0);
    if (n > 0)
        parse_lock_holder(text, std::size_t(n), h);
    // the kernel's word is better than the file's, where it has one (a
    // holder in another PID namespace shows as 0)
    if (conflict.l_pid > 0 && conflict.l_pid != h.pid) {
        h.pid = conflict.l_pid;
        std::ifstream comm("/proc/" + std::to_string(h.pid) + "/comm");
        std::string name;
        std::getline(comm, name);
        h.command = printable_command(name);
    }
    return h;
}

} // namespace

bool parse_lock_holder(const char* data, std::size_t len, LockHolder& holder)
{
    std::size_t i = 0;
    while (i < len && data[i] == ' ')
        ++i;
    long pid = 0;
    std::size_t digits = 0;
    while (i < len && data[i] >= '0' && data[i] <= '9') {
        if (digits++ >= 9)
            return false; // beyond any process id
        pid = pid * 10 + (data[i] - '0');
        ++i;
    }
    if (digits == 0 || pid <= 0)
        return false;
    std::string command;
    if (i < len && data[i] == ' ') {
        ++i;
        command = printable_command(std::string(data + i, std::min(len - i, MAX_COMMAND * 4)));
    } else if (i < len && data[i] != '\n') {
        return false;
    }
    holder.pid = pid;
    holder.command = command;
    return true;
}

std::string lock_file_text(long pid, const std::string& command)
{
    return std::to_string(pid) + " " + command + "\n";
}

std::string describe_lock_holder(const LockHolder& holder)
{
    if (holder.pid <= 0)
        return "another process";
    std::string text = "PID " + std::to_string(holder.pid);
    if (!holder.command.empty())
        text += " (" + holder.command + ")";
    return text;
}

std::string board_lock_directory()
{
    return "/run/lock";
}

std::string board_lock_name(const std::string& interface)
{
    std::string safe;
    for (char c : interface)
        safe += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
    std::ifstream in("/sys/class/net/" + safe + "/address");
    std::string address, hex;
    std::getline(in, address);
    for (char c : address)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            hex += char(std::tolower(static_cast<unsigned char>(c)));
    if (hex.size() == 12 && hex != "000000000000")
        return "korvik-board-" + hex + ".lock";
    return "korvik-board-if-" + safe + ".lock";
}

BoardLock::Result BoardLock::take(const std::string& directory, const std::string& name, unsigned wait_ms,
                                  std::unique_ptr<BoardLock>& lock, std::string& message)
{
    const std::string path = directory + "/" + name;
    {
        std::lock_guard<std::mutex> guard(held_mutex);
        auto mine = held.find(path);
        if (mine != held.end() && mine->second.pid != getpid()) {
            // a forked child sees its parent's entry but holds no lock: its
            // copy of the descriptor goes (the parent's lock stays) and it asks anew
            if (mine->second.fd >= 0)
                ::close(mine->second.fd);
            held.erase(mine);
            mine = held.end();
        }
        if (mine != held.end()) {
            if (mine->second.fd < 0) {
                message = "cannot take the lock " + path + ": this process is taking it already";
                return Result::FAILED;
            }
            ++mine->second.users;
            lock.reset(new BoardLock(path));
            return Result::TAKEN;
        }
        held[path] = Held{-1, 0, getpid()}; // being taken: other threads keep off
    }
    auto give_up = [&path] {
        std::lock_guard<std::mutex> guard(held_mutex);
        held.erase(path);
    };
    // O_NOFOLLOW: a link planted at the lock's name must not redirect it
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        message = "cannot take the lock " + path + ": " + std::strerror(errno);
        give_up();
        return Result::FAILED;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        message = "cannot take the lock " + path + ": not a regular file";
        give_up();
        return Result::FAILED;
    }
    // every user's programs must be able to take it after this one
    if (st.st_uid == geteuid())
        fchmod(fd, 0666);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
        struct flock whole {};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        if (fcntl(fd, F_SETLK, &whole) == 0)
            break;
        if (errno != EACCES && errno != EAGAIN) {
            message = "cannot take the lock " + path + ": " + std::strerror(errno);
            ::close(fd);
            give_up();
            return Result::FAILED;
        }
        if (std::chrono::steady_clock::now() >= end) {
            struct flock conflict {};
            conflict.l_type = F_WRLCK;
            conflict.l_whence = SEEK_SET;
            if (fcntl(fd, F_GETLK, &conflict) != 0)
                conflict.l_pid = 0;
            message = "in use by " + describe_lock_holder(holder_of(fd, conflict));
            ::close(fd);
            give_up();
            return Result::BUSY;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(RETRY_MS));
    }
    const std::string text = lock_file_text(getpid(), printable_command(own_command()));
    if (ftruncate(fd, 0) != 0 || pwrite(fd, text.data(), text.size(), 0) < 0) {
        // the lock holds without the text; the next one reads "another process"
    }
    {
        std::lock_guard<std::mutex> guard(held_mutex);
        held[path] = Held{fd, 1, getpid()};
    }
    lock.reset(new BoardLock(path));
    return Result::TAKEN;
}

BoardLock::BoardLock(std::string path_) : path(std::move(path_)) {}

BoardLock::~BoardLock()
{
    std::lock_guard<std::mutex> guard(held_mutex);
    auto mine = held.find(path);
    if (mine == held.end())
        return;
    if (mine->second.pid != getpid()) {
        // inherited through fork: the lock and its text are the parent's
        ::close(mine->second.fd);
        held.erase(mine);
        return;
    }
    if (--mine->second.users > 0)
        return;
    // emptied first: the next holder's text must not mix with this one's
    if (ftruncate(mine->second.fd, 0) != 0) {
    }
    ::close(mine->second.fd);
    held.erase(mine);
}

} // namespace KORVIK
