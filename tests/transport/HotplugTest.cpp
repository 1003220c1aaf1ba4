// Netlink link messages and adapter descriptions from sysfs.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/stat.h>
#include <unistd.h>

#include "transport/NetlinkHotplug.h"
#include "transport/PcapAdapter.h"

using namespace KORVIK;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes link_message(uint16_t type, int index, unsigned flags, const char* name, const char* alias = nullptr)
{
    Bytes m(NLMSG_SPACE(sizeof(struct ifinfomsg)), 0);
    auto add_attr = [&m](uint16_t t, const char* s) {
        size_t len = std::strlen(s) + 1;
        struct rtattr a;
        a.rta_len = uint16_t(RTA_LENGTH(len));
        a.rta_type = t;
        size_t at = m.size();
        m.resize(at + RTA_SPACE(len), 0);
        std::memcpy(m.data() + at, &a, sizeof a);
        std::memcpy(m.data() + at + RTA_LENGTH(0), s, len);
    };
    if (name)
        add_attr(IFLA_IFNAME, name);
    if (alias)
        add_attr(IFLA_IFALIAS, alias);
    struct nlmsghdr h = {};
    h.nlmsg_len = uint32_t(m.size());
    h.nlmsg_type = type;
    std::memcpy(m.data(), &h, sizeof h);
    struct ifinfomsg info = {};
    info.ifi_index = index;
    info.ifi_flags = flags;
    std::memcpy(m.data() + NLMSG_HDRLEN, &info, sizeof info);
    return m;
}

bool apply(std::map<int, NetlinkHotplug::Link>& links, const Bytes& m, std::vector<std::string>& removed)
{
    return NetlinkHotplug::apply_messages(links, m.data(), m.size(), removed);
}

TEST(NetlinkMessages, OnlyNewsThatMayRevealABoardCounts)
{
    std::map<int, NetlinkHotplug::Link> links;
    std::vector<std::string> removed;
    EXPECT_TRUE(apply(links, link_message(RTM_NEWLINK, 7, 0, "kb0"), removed));
    EXPECT_FALSE(apply(links, link_message(RTM_NEWLINK, 7, 0, "kb0"), removed));
    // promiscuous mode, as opening an adapter sets it
    EXPECT_FALSE(apply(links, link_message(RTM_NEWLINK, 7, IFF_PROMISC, "kb0"), removed));
    EXPECT_TRUE(apply(links, link_message(RTM_NEWLINK, 7, IFF_PROMISC, "kb0", "Zelvane Inc. RC1200"), removed));
    EXPECT_TRUE(apply(links, link_message(RTM_NEWLINK, 7, IFF_UP, "kb0"), removed));
    EXPECT_FALSE(apply(links, link_message(RTM_NEWLINK, 7, IFF_UP | IFF_RUNNING, "kb0"), removed));
    EXPECT_FALSE(apply(links, link_message(RTM_NEWLINK, 7, 0, "kb0"), removed)); // going down
    EXPECT_TRUE(apply(links, link_message(RTM_NEWLINK, 7, 0, "kb1"), removed));  // renamed
    EXPECT_TRUE(removed.empty());

    EXPECT_FALSE(apply(links, link_message(RTM_DELLINK, 7, 0, "kb1"), removed));
    EXPECT_EQ(std::vector<std::string>{"kb1"}, removed);
    EXPECT_TRUE(links.empty());
}

TEST(NetlinkMessages, SeveralMessagesInOneDatagram)
{
    std::map<int, NetlinkHotplug::Link> links;
    std::vector<std::string> removed;
    Bytes a = link_message(RTM_NEWLINK, 1, 0, "aa");
    Bytes b = link_message(RTM_DELLINK, 1, 0, "aa");
    Bytes both = a;
    both.insert(both.end(), b.begin(), b.end());
    EXPECT_TRUE(apply(links, both, removed));
    EXPECT_EQ(std::vector<std::string>{"aa"}, removed);
}

TEST(NetlinkMessages, TruncatedAndGarbageInputIsHarmless)
{
    std::map<int, NetlinkHotplug::Link> links;
    std::vector<std::string> removed;
    Bytes m = link_message(RTM_NEWLINK, 3, 0, "kb0", "Zelvane Inc.");
    for (size_t n = 0; n < m.size(); ++n) {
        Bytes cut(m.begin(), m.begin() + long(n));
        NetlinkHotplug::apply_messages(links, cut.data(), cut.size(), removed);
    }
    // an attribute claiming more than there is
    Bytes bad = m;
    struct rtattr a;
    std::memcpy(&a, bad.data() + NLMSG_SPACE(sizeof(struct ifinfomsg)), sizeof a);
    a.rta_len = 0xFFF0;
    std::memcpy(bad.data() + NLMSG_SPACE(sizeof(struct ifinfomsg)), &a, sizeof a);
    NetlinkHotplug::apply_messages(links, bad.data(), bad.size(), removed);
    Bytes noise(300);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = uint8_t(i * 37 + 11);
    NetlinkHotplug::apply_messages(links, noise.data(), noise.size(), removed);
    SUCCEED();
}

class SysfsDescription : public testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/korvik-sysfs-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        root = tmpl;
    }
    void TearDown() override { (void)!std::system(("rm -rf " + root).c_str()); }
    void write(const std::string& rel, const std::string& text)
    {
        std::string path = root + "/" + rel;
        (void)!std::system(("mkdir -p $(dirname " + path + ")").c_str());
        std::ofstream(path) << text;
    }
    std::string root;
};

TEST_F(SysfsDescription, UsbStringsFirstThenAlias)
{
    // class/net/usb0/device -> devices/1-1/1-1:1.0 below the USB device node
    write("devices/1-1/manufacturer", "Zelvane Inc.\n");
    write("devices/1-1/product", "RC1200 Evaluation Board\n");
    write("devices/1-1/1-1:1.0/uevent", "DEVTYPE=usb_interface\n");
    write("class/net/usb0/ifalias", "ignored alias\n");
    ASSERT_EQ(0, symlink((root + "/devices/1-1/1-1:1.0").c_str(), (root + "/class/net/usb0/device").c_str()));
    EXPECT_EQ("Zelvane Inc. RC1200 Evaluation Board", describe_interface(root + "/class/net", "usb0"));

    write("class/net/kb0/ifalias", "Corvane AG RC1400\n");
    EXPECT_EQ("Corvane AG RC1400", describe_interface(root + "/class/net", "kb0"));
    EXPECT_EQ("", describe_interface(root + "/class/net", "nothing"));
}

} // namespace
