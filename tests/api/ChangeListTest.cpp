// The public headers are written by hand; every notification of the shared
// list must be declared there, and nothing the list does not know.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include <korvik/ChangeList.h>

namespace {

std::set<std::string> listed()
{
    std::set<std::string> names;
#define KORVIK_LISTED(name) names.insert(#name);
    KORVIK_CHANGES(KORVIK_LISTED)
#undef KORVIK_LISTED
    return names;
}

std::set<std::string> declared(const std::string& header, const std::string& pattern)
{
    std::ifstream in(std::string(KORVIK_PUBLIC_HEADERS) + "/" + header);
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    std::set<std::string> names;
    const std::regex re(pattern);
    for (auto it = std::sregex_iterator(s.begin(), s.end(), re); it != std::sregex_iterator(); ++it)
        names.insert((*it)[1]);
    return names;
}

TEST(ChangeList, PublicHeadersDeclareExactlyTheListedNotifications)
{
    const struct {
        const char* header;
        const char* pattern;
    } cases[] = {
        {"USBDevice.h", R"(notify_changed_(\w+)\(const sigc::slot<void\(\)>&)"},
        {"korvik.h", R"(KORVIK_DECLARE_CHANGED_\((\w+)\)\n)"},
    };
    const std::set<std::string> expected = listed();
    EXPECT_EQ(expected.size(), 38u);
    for (const auto& c : cases)
        EXPECT_EQ(declared(c.header, c.pattern), expected) << c.header;
}

} // namespace
