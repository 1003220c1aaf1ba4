// The public headers are written by hand; every notification of the shared
// list must be declared there, and nothing the list does not know.

#include <gtest/gtest.h>

#include <fstream>
#include <cctype>
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

// Names declared as prefix NAME suffix (NAME of word characters). A plain
// scan: GCC 12's std::regex draws -Wmaybe-uninitialized from its own headers.
std::set<std::string> declared(const std::string& header, const std::string& prefix, const std::string& suffix)
{
    std::ifstream in(std::string(KORVIK_PUBLIC_HEADERS) + "/" + header);
    std::stringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    std::set<std::string> names;
    for (size_t at = s.find(prefix); at != std::string::npos; at = s.find(prefix, at + 1)) {
        size_t end = at + prefix.size();
        while (end < s.size() && (std::isalnum(static_cast<unsigned char>(s[end])) || s[end] == '_'))
            ++end;
        if (end > at + prefix.size() && s.compare(end, suffix.size(), suffix) == 0)
            names.insert(s.substr(at + prefix.size(), end - at - prefix.size()));
    }
    return names;
}

TEST(ChangeList, PublicHeadersDeclareExactlyTheListedNotifications)
{
    const struct {
        const char* header;
        const char* prefix;
        const char* suffix;
    } cases[] = {
        {"USBDevice.h", "notify_changed_", "(const sigc::slot<void()>&"},
        {"korvik.h", "KORVIK_DECLARE_CHANGED_(", ")\n"},
    };
    const std::set<std::string> expected = listed();
    EXPECT_EQ(expected.size(), 38u);
    for (const auto& c : cases)
        EXPECT_EQ(declared(c.header, c.prefix, c.suffix), expected) << c.header;
}

} // namespace
