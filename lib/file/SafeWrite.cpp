#include "SafeWrite.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvik_file {

namespace {

std::string failed(const std::string& path, const char* step, int error)
{
    return path + ": " + step + ": " + std::strerror(error);
}

bool write_all(int fd, const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

// read from /proc so that no other thread sees a changed umask in between
unsigned current_umask()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0)
            return unsigned(std::strtoul(line.c_str() + 6, nullptr, 8));
    return 022;
}

// Standard output, a device or a FIFO: nothing to rename, the bytes go where
// the name points. A FIFO without a reader is an error, not a hang.
std::string write_direct(const std::string& path, int fd, bool own, const void* data, std::size_t size)
{
    if (fd < 0) {
        fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            return failed(path, "open", errno == ENXIO ? EPIPE : errno);
        own = true;
        const int flags = fcntl(fd, F_GETFL);
        if (flags >= 0)
            fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    std::string error;
    if (!write_all(fd, data, size))
        error = failed(path, "write", errno);
    // a device or pipe that cannot sync has nothing to sync
    else if (fsync(fd) != 0 && errno != EINVAL && errno != EROFS && errno != ENOTSUP && errno != EBADF)
        error = failed(path, "fsync", errno);
    if (own && ::close(fd) != 0 && error.empty() && errno != EINTR)
        error = failed(path, "close", errno);
    return error;
}

std::string write_replacing(const std::string& path, const struct stat* old, const void* data, std::size_t size,
                            unsigned mode)
{
    const std::string::size_type slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temporary = (dir == "/" ? "" : dir) + "/." + base + ".XXXXXX";
    std::vector<char> name(temporary.begin(), temporary.end());
    name.push_back('\0');
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return failed(path, "cannot create a temporary file in its folder", errno);
    temporary = name.data();
    // keep what the user gave the old file; a new one gets the usual mode
    if (old) {
        if (fchown(fd, old->st_uid, old->st_gid) != 0) {
            // only root may give a file away; the contents matter more
        }
        fchmod(fd, old->st_mode & 07777);
    } else {
        fchmod(fd, mode & ~current_umask() & 07777);
    }
    const char* step = nullptr;
    int error = 0;
    if (!write_all(fd, data, size))
        step = "write";
    else if (fsync(fd) != 0)
        step = "fsync";
    if (step)
        error = errno;
    if (::close(fd) != 0 && !step) {
        step = "close";
        error = errno;
    }
    if (!step && ::rename(temporary.c_str(), path.c_str()) != 0) {
        step = "rename";
        error = errno;
    }
    if (step) {
        ::unlink(temporary.c_str());
        return failed(path, step, error);
    }
    // the rename reaches the disk with its folder
    const int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d >= 0) {
        fsync(d);
        ::close(d);
    }
    return std::string();
}

} // namespace

std::string write_file(const std::string& path, const void* data, std::size_t size, unsigned mode)
{
    if (path.empty())
        return "no file name given";
    if (path == "-")
        return write_direct("standard output", STDOUT_FILENO, false, data, size);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return failed(path, "stat", errno);
        struct stat link;
        // a symbolic link to nowhere: create what it names rather than replace the link
        if (::lstat(path.c_str(), &link) == 0) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, mode);
            if (fd < 0)
                return failed(path, "open", errno);
            return write_direct(path, fd, true, data, size);
        }
        return write_replacing(path, nullptr, data, size, mode);
    }
    if (!S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode))
            return failed(path, "open", EISDIR);
        return write_direct(path, -1, false, data, size);
    }
    // through a symbolic link the file it names is replaced, not the link
    char resolved[PATH_MAX];
    std::string target = ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
    // /dev/stdout, /proc/self/fd/N: a descriptor the caller already holds
    if (target.rfind("/proc/", 0) == 0 || path.rfind("/proc/", 0) == 0 || path.rfind("/dev/fd/", 0) == 0 ||
        path.rfind("/dev/std", 0) == 0) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            return failed(path, "open", errno);
        return write_direct(path, fd, true, data, size);
    }
    std::string error = write_replacing(target, &st, data, size, mode);
    // name what the user named
    if (!error.empty() && target != path && error.rfind(target, 0) == 0)
        error = path + error.substr(target.size());
    return error;
}

int open_regular_for_reading(const std::string& path, std::string& error)
{
    // O_NONBLOCK: opening a FIFO without a writer must not wait for one
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? "is a folder" : "not a regular file";
        ::close(fd);
        return -1;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

bool read_file(const std::string& path, std::string& contents, std::string& error)
{
    const int fd = open_regular_for_reading(path, error);
    if (fd < 0)
        return false;
    contents.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        contents.append(buffer, std::size_t(n));
    }
    ::close(fd);
    return true;
}

} // namespace korvik_file
