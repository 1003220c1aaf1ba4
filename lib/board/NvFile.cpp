#include "board/NvFile.h"

#include <cerrno>
#include <cstring>
#include <iostream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib/gstdio.h>
#include <glibmm/miscutils.h>

#include "model/common/Diagnostics.h"

namespace KORVIK {
namespace nvfile {

namespace {

bool write_all(int fd, const uint8_t* data, size_t len)
{
    while (len > 0) {
        ssize_t n = ::write(fd, data, len);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        len -= size_t(n);
    }
    return true;
}

} // namespace

std::string path_for_serial(const std::string& serial)
{
    std::string name = serial;
    for (char& c : name) {
        bool safe = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
                    c == '_';
        if (!safe)
            c = '_';
    }
    return Glib::build_filename(Glib::get_user_data_dir(), "korvik_" + name + ".nvr");
}

void read(const std::string& path, uint8_t sector[SIZE])
{
    std::memset(sector, 0xFF, SIZE);
    // non-blocking: opening a FIFO for reading would otherwise wait for a
    // writer for ever, and with it the worker and whoever joins it
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno != ENOENT)
            diag() << "nvfile::read: " << path << ": " << std::strerror(errno) << std::endl;
        return;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        diag() << "nvfile::read: " << path << " is not a regular file, the sector reads as erased" << std::endl;
        ::close(fd);
        return;
    }
    size_t got = 0;
    // stops at SIZE bytes or at the end of the file; what is not read stays 0xFF
    while (got < SIZE) {
        ssize_t n = ::read(fd, sector + got, SIZE - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            diag() << "nvfile::read: " << path << ": " << std::strerror(errno) << std::endl;
            break;
        }
        if (n == 0)
            break;
        got += size_t(n);
    }
    ::close(fd);
}

bool write(const std::string& path, const uint8_t sector[SIZE])
{
    const std::string dir = Glib::path_get_dirname(path);
    g_mkdir_with_parents(dir.c_str(), 0700);
    // a temporary file beside the old one, renamed over it only once all of
    // it is on the disk: a full disk or a crash leaves the old contents
    std::string temporary = path + ".XXXXXX";
    int fd = g_mkstemp_full(&temporary[0], O_WRONLY | O_CLOEXEC, 0600);
    const char* step = "cannot create a temporary file";
    bool ok = fd >= 0;
    if (ok) {
        struct stat old;
        // keep the permissions a user may have given the file
        fchmod(fd, ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) ? old.st_mode & 07777 : 0644);
        if (!write_all(fd, sector, SIZE)) {
            step = "write";
            ok = false;
        } else if (fsync(fd) != 0) {
            step = "fsync";
            ok = false;
        }
        int saved = errno;
        if (::close(fd) != 0 && ok) {
            step = "close";
            ok = false;
            saved = errno;
        }
        if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
            step = "rename";
            ok = false;
            saved = errno;
        }
        if (!ok)
            ::unlink(temporary.c_str());
        errno = saved;
    }
    if (!ok) {
        diag() << "nvfile::write: " << path << ": " << step << ": " << std::strerror(errno) << std::endl;
        return false;
    }
    // the rename itself reaches the disk with the directory
    int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d >= 0) {
        fsync(d);
        ::close(d);
    }
    return true;
}

} // namespace nvfile
} // namespace KORVIK
