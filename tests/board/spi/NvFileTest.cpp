// The NV file of a direct SPI board: erased where the file has no bytes,
// bounded reads, atomic replacement, a name that stays in its directory.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <glib.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include "DataDir.h"
#include "board/NvFile.h"

using namespace KORVIK;

namespace {

std::string scratch(const std::string& name)
{
    return test_data_dir() + "/nvfile-" + name;
}

void put_file(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> file_bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> read_sector(const std::string& path)
{
    std::vector<uint8_t> sector(nvfile::SIZE, 0x00);
    nvfile::read(path, sector.data());
    return sector;
}

TEST(NvFile, MissingFileReadsErased)
{
    EXPECT_EQ(read_sector(scratch("missing")), std::vector<uint8_t>(512, 0xFF));
}

TEST(NvFile, ShortFileIsPaddedWithErasedBytes)
{
    std::string path = scratch("short");
    put_file(path, {1, 2, 3});
    auto sector = read_sector(path);
    EXPECT_EQ(sector[0], 1);
    EXPECT_EQ(sector[2], 3);
    EXPECT_EQ(std::vector<uint8_t>(sector.begin() + 3, sector.end()), std::vector<uint8_t>(509, 0xFF));
}

TEST(NvFile, OversizedOrOddFilesNeverOverrun)
{
    std::string path = scratch("big");
    std::vector<uint8_t> big(5000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = uint8_t(i * 7);
    put_file(path, big);
    // a guard zone behind the sector shows any write past 512 bytes
    std::vector<uint8_t> buffer(nvfile::SIZE + 64, 0xA5);
    nvfile::read(path, buffer.data());
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 512),
              std::vector<uint8_t>(big.begin(), big.begin() + 512));
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + 512, buffer.end()), std::vector<uint8_t>(64, 0xA5));

    std::string dir = scratch("a-directory");
    g_mkdir(dir.c_str(), 0700);
    EXPECT_EQ(read_sector(dir), std::vector<uint8_t>(512, 0xFF));
    EXPECT_EQ(read_sector(""), std::vector<uint8_t>(512, 0xFF));
}

TEST(NvFile, WriteReplacesWholeFileAndLeavesNoTemporaries)
{
    std::string dir = scratch("replace");
    std::string path = dir + "/nested/board.nvr"; // directories are created
    std::vector<uint8_t> first(512, 0x11), second(512);
    for (size_t i = 0; i < second.size(); ++i)
        second[i] = uint8_t(i);
    ASSERT_TRUE(nvfile::write(path, first.data()));
    put_file(path + ".other", {9}); // a neighbour stays untouched
    ASSERT_TRUE(nvfile::write(path, second.data()));
    EXPECT_EQ(file_bytes(path), second);
    EXPECT_EQ(read_sector(path), second);

    std::vector<std::string> names;
    GDir* d = g_dir_open((dir + "/nested").c_str(), 0, nullptr);
    ASSERT_NE(d, nullptr);
    while (const char* name = g_dir_read_name(d))
        names.emplace_back(name);
    g_dir_close(d);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"board.nvr", "board.nvr.other"}));
}

TEST(NvFile, FailedWriteKeepsTheOldContents)
{
    // a path below a regular file cannot be written by anyone
    std::string blocker = scratch("plain-file");
    put_file(blocker, {1});
    std::vector<uint8_t> sector(512, 0x42);
    EXPECT_FALSE(nvfile::write(blocker + "/board.nvr", sector.data()));
    EXPECT_EQ(file_bytes(blocker), std::vector<uint8_t>{1});

    std::string path = scratch("readonly-dir") + "/board.nvr";
    std::vector<uint8_t> old(512, 0x42), fresh(512, 0x00);
    ASSERT_TRUE(nvfile::write(path, old.data()));
    g_chmod(scratch("readonly-dir").c_str(), 0500);
    bool written = nvfile::write(path, fresh.data());
    g_chmod(scratch("readonly-dir").c_str(), 0700);
    if (getuid() == 0)
        GTEST_SKIP() << "root writes into read-only directories";
    EXPECT_FALSE(written);
    EXPECT_EQ(file_bytes(path), old);
}

TEST(NvFile, NameStaysInTheUserDataDirectory)
{
    EXPECT_EQ(nvfile::path_for_serial("1234567"), test_data_dir() + "/korvik_1234567.nvr");
    EXPECT_EQ(nvfile::path_for_serial("../../etc/x"), test_data_dir() + "/korvik_______etc_x.nvr");
}

} // namespace
