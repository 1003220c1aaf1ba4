#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <dirent.h>

/// Fails the running test unless it runs inside the private network namespace
/// that run_ns_tests.sh sets up, with nothing but loopback besides the test's
/// own veth pairs: frames must never go out on a real network.
inline void assert_private_test_namespace()
{
    const char* flag = std::getenv("KORVIK_TEST_NETNS");
    ASSERT_TRUE(flag && std::string(flag) == "1") << "run these tests through run_ns_tests.sh";
    DIR* d = opendir("/sys/class/net");
    ASSERT_NE(nullptr, d);
    while (struct dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != ".." && n != "lo")
            ADD_FAILURE() << "unexpected interface " << n << " in the test namespace";
    }
    closedir(d);
}
