#include "board/NvFile.h"

#include <cerrno>
#include <cstring>
#include <iostream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib/gstdio.h>
#include <glibmm/miscutils.h>

#include "SafeWrite.h"
#include "model/common/Diagnostics.h"

namespace KORVIK {
namespace nvfile {

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
    g_mkdir_with_parents(Glib::path_get_dirname(path).c_str(), 0700);
    // the old contents stay until the new ones are on the disk
    const std::string error = korvik_file::write_file(path, sector, SIZE, 0644);
    if (!error.empty()) {
        diag() << "nvfile::write: " << error << std::endl;
        return false;
    }
    return true;
}

} // namespace nvfile
} // namespace KORVIK
