// The one file writer: whole or nothing on regular files, never a rename
// over a device or FIFO, and readers that never block on a FIFO.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "file/SafeWrite.h"

using korvik_file::write_file;

namespace {

class SafeWrite : public testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/korvik-safewrite-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(name));
        dir = name;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    std::string path(const std::string& name) const { return dir + "/" + name; }

    static std::string contents(const std::string& p)
    {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // everything in the folder: a failed write leaves no temporary file behind
    unsigned entries() const
    {
        unsigned n = 0;
        DIR* d = opendir(dir.c_str());
        while (dirent* e = readdir(d))
            n += std::string(e->d_name) != "." && std::string(e->d_name) != "..";
        closedir(d);
        return n;
    }

    std::string dir;
};

TEST_F(SafeWrite, RegularFilesAreReplacedWholeKeepingTheirMode)
{
    const std::string p = path("a.xml");
    EXPECT_EQ("", write_file(p, std::string("first")));
    EXPECT_EQ("first", contents(p));
    chmod(p.c_str(), 0640);
    EXPECT_EQ("", write_file(p, std::string("second, longer")));
    EXPECT_EQ("second, longer", contents(p));
    struct stat st;
    ASSERT_EQ(0, stat(p.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777);
    EXPECT_EQ(1u, entries());

    // through a symbolic link the file is replaced and the link stays
    const std::string link = path("link.xml");
    ASSERT_EQ(0, symlink(p.c_str(), link.c_str()));
    EXPECT_EQ("", write_file(link, std::string("third")));
    ASSERT_EQ(0, lstat(link.c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ("third", contents(p));
    EXPECT_EQ(2u, entries());

    EXPECT_NE("", write_file(dir, std::string("x"))); // a folder
    EXPECT_NE("", write_file(path("no/such/folder"), std::string("x")));
}

// A write that fails half-way (the file size limit stands in for a full
// disk: the same short write, then an error) keeps the old file as it was.
TEST_F(SafeWrite, FailedWriteLeavesTheOldFileAndNoTemporary)
{
    const std::string p = path("settings.xml");
    const std::string old(4092, 'o');
    ASSERT_EQ("", write_file(p, old));
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {1000, 1000};
        setrlimit(RLIMIT_FSIZE, &limit);
        const std::string error = write_file(p, std::string(4092, 'n'));
        if (error.find("settings.xml: write: File too large") == std::string::npos) {
            std::fprintf(stderr, "got: %s\n", error.c_str());
            _exit(1);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(old, contents(p));
    EXPECT_EQ(1u, entries());
}

TEST_F(SafeWrite, DevicesAreWrittenNotReplaced)
{
    // /dev/null takes everything, /dev/full nothing; neither may become a file
    struct {
        const char* device;
        bool ok;
    } cases[] = {{"/dev/null", true}, {"/dev/full", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        const std::string error = write_file(c.device, std::string("data"));
        EXPECT_EQ(c.ok, error.empty()) << error;
        if (!c.ok) {
            EXPECT_NE(std::string::npos, error.find("No space left on device")) << error;
        }
        struct stat st;
        ASSERT_EQ(0, stat(c.device, &st));
        EXPECT_TRUE(S_ISCHR(st.st_mode));
    }
}

TEST_F(SafeWrite, FifosAreWrittenWhenReadAndRefusedWithoutAReader)
{
    const std::string fifo = path("fifo");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE("", write_file(fifo, std::string("nobody reads")));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

    std::string got;
    std::thread reader([&] { got = contents(fifo); });
    std::string error;
    // the reader opens the FIFO some time after the thread starts
    for (int i = 0; i < 200; ++i) {
        error = write_file(fifo, std::string("through the fifo"));
        if (error.empty())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    reader.join();
    EXPECT_EQ("", error);
    EXPECT_EQ("through the fifo", got);
    struct stat st;
    ASSERT_EQ(0, stat(fifo.c_str(), &st));
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(SafeWrite, ReadersOpenRegularFilesOnlyAndNeverBlock)
{
    const std::string file = path("in.xml"), fifo = path("fifo");
    ASSERT_EQ("", write_file(file, std::string("<evusb/>")));
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    std::string text, error;
    EXPECT_TRUE(korvik_file::read_file(file, text, error));
    EXPECT_EQ("<evusb/>", text);
    const auto start = std::chrono::steady_clock::now();
    struct {
        std::string path;
        const char* reason;
    } refused[] = {{fifo, "not a regular file"},
                   {"/dev/zero", "not a regular file"},
                   {dir, "is a folder"},
                   {path("missing"), "No such file or directory"}};
    for (const auto& r : refused) {
        SCOPED_TRACE(r.path);
        EXPECT_FALSE(korvik_file::read_file(r.path, text, error));
        EXPECT_EQ(r.reason, error);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

} // namespace
