#include "DataDir.h"

#include <cstdlib>
#include <stdexcept>

#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

namespace {

std::string make_dir()
{
    char pattern[] = "/tmp/korvik-spi-XXXXXX";
    if (!g_mkdtemp(pattern))
        throw std::runtime_error("cannot create a temporary directory");
    setenv("XDG_DATA_HOME", pattern, 1);
    return pattern;
}

// GLib caches the user data directory on first use: set it during static
// initialisation, before any test runs.
const std::string dir = make_dir();

void remove_tree(const std::string& path)
{
    GDir* d = g_dir_open(path.c_str(), 0, nullptr);
    if (d) {
        while (const char* name = g_dir_read_name(d)) {
            std::string child = path + "/" + name;
            if (g_file_test(child.c_str(), G_FILE_TEST_IS_DIR))
                remove_tree(child);
            else
                g_remove(child.c_str());
        }
        g_dir_close(d);
    }
    g_rmdir(path.c_str());
}

class Cleanup : public ::testing::Environment {
public:
    void TearDown() override { remove_tree(dir); }
};

const auto* cleanup = ::testing::AddGlobalTestEnvironment(new Cleanup);

} // namespace

const std::string& test_data_dir()
{
    return dir;
}
