// Feeds arbitrary serials and file contents to the NV file code of direct
// SPI boards: the file name made from a serial must stay in the user data
// directory, a file of any size must read as its first 512 bytes with the
// rest erased, and what is written must read back unchanged.
// Input: one byte n, n serial bytes, then the file contents.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <glib.h>

#include "board/NvFile.h"

namespace {

std::string dir;

void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_nvfile: %s\n", what);
        std::abort();
    }
}

void put_file(const std::string& path, const uint8_t* data, size_t len)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    require(f != nullptr, "cannot create the input file");
    require(std::fwrite(data, 1, len, f) == len || len == 0, "cannot write the input file");
    std::fclose(f);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // a RAM-backed directory where there is one: every run writes files
    const char* base = g_file_test("/dev/shm", G_FILE_TEST_IS_DIR) ? "/dev/shm" : g_get_tmp_dir();
    std::string pattern = std::string(base) + "/fuzz_nvfile.XXXXXX";
    char* made = g_mkdtemp(&pattern[0]);
    require(made != nullptr, "cannot create a work directory");
    dir = made;
    g_setenv("XDG_DATA_HOME", dir.c_str(), TRUE);
    std::atexit([] {
        for (const char* name : {"/in", "/out"})
            std::remove((dir + name).c_str());
        std::remove(dir.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t n = std::min<size_t>(data[0], size - 1);
    const std::string serial(reinterpret_cast<const char*>(data + 1), n);
    const uint8_t* contents = data + 1 + n;
    const size_t contents_len = size - 1 - n;

    const std::string path = KORVIK::nvfile::path_for_serial(serial);
    gchar* parent = g_path_get_dirname(path.c_str());
    gchar* name = g_path_get_basename(path.c_str());
    require(std::string(parent) == g_get_user_data_dir(), "NV file outside the user data directory");
    require(g_str_has_prefix(name, "korvik_") && g_str_has_suffix(name, ".nvr"), "NV file name lost its form");
    g_free(parent);
    g_free(name);

    const std::string in = dir + "/in";
    put_file(in, contents, contents_len);
    uint8_t sector[KORVIK::nvfile::SIZE];
    KORVIK::nvfile::read(in, sector);
    const size_t kept = std::min<size_t>(contents_len, sizeof sector);
    require(std::memcmp(sector, contents, kept) == 0, "file contents read wrong");
    for (size_t i = kept; i < sizeof sector; ++i)
        require(sector[i] == 0xFF, "bytes past the end of the file do not read as erased");

    const std::string out = dir + "/out";
    require(KORVIK::nvfile::write(out, sector), "sector not written");
    uint8_t back[KORVIK::nvfile::SIZE];
    KORVIK::nvfile::read(out, back);
    require(std::memcmp(sector, back, sizeof sector) == 0, "written sector reads back different");
    return 0;
}
