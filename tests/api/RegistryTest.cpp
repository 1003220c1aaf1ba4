// The board registry on its own: a local Library, simulated boards added by hand.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <korvik/USBDevice.h>

#include "api/Library.h"
#include "board/SimBoard.h"

using KORVIK::EvUSBBoard;
using KORVIK::Library;
using KORVIK::SimBoard;
using KORVIK::USBDevice;

namespace {

using Calls = std::vector<std::pair<std::string, std::string>>;

Library::DeviceSlot recorder(Calls& calls)
{
    return [&calls](const std::string& interface, const std::string& serial) {
        calls.emplace_back(interface, serial);
    };
}

EvUSBBoard* make_board(Library& library, const std::string& serial, const std::string& interface)
{
    return new SimBoard(serial, interface, "board " + serial, "RC1200", "0012340A0B0C", &library);
}

class Registry : public ::testing::Test {
protected:
    // declared before the library: its destructor still emits disconnects
    Calls connects, disconnects;
    Library library;
};

TEST_F(Registry, ConnectSubscriptionReplaysPresentBoardsInInterfaceOrder)
{
    library.add_board(make_board(library, "300", "sim2"));
    library.add_board(make_board(library, "100", "eth1"));
    library.add_board(make_board(library, "200", "sim10"));

    library.notify_device_connect(recorder(connects));
    library.notify_device_disconnect(recorder(disconnects));
    // byte-wise order: "sim10" sorts before "sim2"
    EXPECT_EQ(connects, (Calls{{"eth1", "100"}, {"sim10", "200"}, {"sim2", "300"}}));
    EXPECT_TRUE(disconnects.empty());

    // later arrivals and removals reach the subscribers exactly once
    library.add_board(make_board(library, "400", "eth0"));
    library.remove_board(library.find_interface("sim2"));
    EXPECT_EQ(connects.size(), 4u);
    EXPECT_EQ(connects.back(), (std::pair<std::string, std::string>("eth0", "400")));
    EXPECT_EQ(disconnects, (Calls{{"sim2", "300"}}));
}

TEST_F(Registry, BlockedOrEmptySlotIsNotReplayed)
{
    library.add_board(make_board(library, "100", "eth1"));
    Library::DeviceSlot slot = recorder(connects);
    slot.block();
    library.notify_device_connect(slot);
    EXPECT_TRUE(connects.empty());
    EXPECT_NO_THROW(library.notify_device_connect(Library::DeviceSlot()));
}

TEST_F(Registry, EntryIsPresentWhileConnectAndDisconnectSlotsRun)
{
    int seen_in_connect = 0, seen_in_disconnect = 0;
    library.signal_device_connect.connect([&](const std::string& interface, const std::string&) {
        seen_in_connect += library.find_interface(interface) != library.end();
    });
    library.signal_device_disconnect.connect([&](const std::string& interface, const std::string&) {
        seen_in_disconnect += library.find_interface(interface) != library.end();
    });
    library.add_board(make_board(library, "100", "eth1"));
    library.remove_board(library.find_interface("eth1"));
    EXPECT_EQ(seen_in_connect, 1);
    EXPECT_EQ(seen_in_disconnect, 1);
    EXPECT_TRUE(library.get_boards().empty());
}

TEST_F(Registry, RegistryHoldsOneReferenceAndRemovalReleasesIt)
{
    EvUSBBoard* board = make_board(library, "100", "eth1");
    library.add_board(board);
    EXPECT_EQ(board->get_refcount(), 1);
    auto handle = std::make_unique<USBDevice>(board);
    EXPECT_EQ(board->get_refcount(), 2);
    library.remove_board(library.find_board(board));
    EXPECT_EQ(board->get_refcount(), 1);
    EXPECT_EQ(handle->get_serial(), "100");
    // the handle's reference is the last one: deleting it deletes the board
}

TEST_F(Registry, DuplicateInterfaceKeepsFirstBoardAndEmitsNothing)
{
    EvUSBBoard* first = make_board(library, "100", "eth1");
    EvUSBBoard* second = make_board(library, "999", "eth1");
    library.add_board(first);
    library.signal_device_connect.connect(recorder(connects));

    library.add_board(second);
    EXPECT_TRUE(connects.empty());
    ASSERT_EQ(library.get_boards().size(), 1u);
    EXPECT_EQ(library.find_interface("eth1")->second, first);
    EXPECT_EQ(second->get_refcount(), 0);

    // the rejected board is nobody's entry: making it leave must not take
    // the registered board with it
    second->reference();
    second->leave_registry();
    EXPECT_EQ(library.find_interface("eth1")->second, first);
    EXPECT_EQ(library.find_board(second), library.end());
    second->unreference();

    library.add_board(nullptr);
    EXPECT_EQ(library.get_boards().size(), 1u);
}

TEST_F(Registry, LookupsBySerialAndInterface)
{
    library.add_board(make_board(library, "555", "zz-b"));
    library.add_board(make_board(library, "555", "zz-a"));
    library.add_board(make_board(library, "5555", "aa"));

    auto entry = library.find_board_by_serial("555");
    ASSERT_NE(entry, library.end());
    EXPECT_EQ(entry->first, "zz-a") << "a shared serial opens the board that sorts first";
    EXPECT_EQ(library.find_board_by_serial("55"), library.end()) << "no prefix match";
    EXPECT_EQ(library.find_interface("zz"), library.end());
    EXPECT_EQ(library.find_board(nullptr), library.end());
    // removing the end position is ignored
    library.remove_board(library.end());
    EXPECT_EQ(library.get_boards().size(), 3u);
}

TEST_F(Registry, DisconnectSlotMayRemoveTheSameBoardAgain)
{
    EvUSBBoard* board = make_board(library, "100", "eth1");
    library.add_board(board);
    auto handle = std::make_unique<USBDevice>(board);
    int disconnects = 0;
    library.signal_device_disconnect.connect([&](const std::string& interface, const std::string&) {
        if (++disconnects == 1)
            library.remove_board(library.find_interface(interface));
    });
    library.remove_board(library.find_board(board));
    EXPECT_EQ(disconnects, 2);
    EXPECT_TRUE(library.get_boards().empty());
    EXPECT_EQ(board->get_refcount(), 1) << "the registry's reference is dropped once";
}

TEST_F(Registry, DiagnosticLines)
{
    EvUSBBoard* board = make_board(library, "100", "eth1");
    EvUSBBoard* twin = make_board(library, "999", "eth1");
    twin->reference();
    testing::internal::CaptureStderr();
    library.add_board(board);
    library.add_board(make_board(library, "200", "eth2"));
    library.add_board(twin);
    library.find_board(twin);
    library.remove_board(library.find_board(board));
    const std::string text = testing::internal::GetCapturedStderr();
    twin->unreference();

    for (const char* line : {"Adding board serial 100 interface eth1 new size 1\n",
                             "Adding board serial 200 interface eth2 new size 2\n",
                             "Cannot add board serial 999 interface eth1\n",
                             "ERROR: find_board: serial 999 interface eth1 not found!!\n",
                             "Deleting board eth1/100 size 2\n", "New size 1\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "missing in:\n" << text;
    EXPECT_LT(text.find("Deleting board"), text.find("New size"));
}

TEST_F(Registry, SimulatedInterfaceNumbersNeverRepeat)
{
    EXPECT_EQ(library.next_sim_interface(), "sim0");
    EXPECT_EQ(library.next_sim_interface(), "sim1");
    EXPECT_EQ(library.next_sim_interface(), "sim2");
}

TEST(RegistryLifetime, DestroyingTheLibraryDisconnectsEveryBoard)
{
    auto library = std::make_unique<Library>();
    EvUSBBoard* kept = make_board(*library, "200", "sim1");
    library->add_board(make_board(*library, "100", "sim0"));
    library->add_board(kept);
    auto handle = std::make_unique<USBDevice>(kept);
    Calls calls;
    library->notify_device_disconnect(recorder(calls));

    library.reset();
    EXPECT_EQ(calls, (Calls{{"sim0", "100"}, {"sim1", "200"}}));
    EXPECT_EQ(kept->get_refcount(), 1);
    EXPECT_EQ(handle->get_display_name(), "board 200");
}

TEST(ChipTable, NamesAndOrder)
{
    std::vector<std::string> names;
    for (const auto& row : KORVIK::chip_table())
        names.emplace_back(row.name);
    EXPECT_EQ(names, (std::vector<std::string>{"RC1200", "RC1400", "RC1100", "RC1300"}));
    auto listed = USBDevice::get_supported_chips();
    EXPECT_EQ(std::vector<std::string>(listed.begin(), listed.end()), names);
    EXPECT_EQ(USBDevice::get_version(), "V1.4");
}

TEST(ChipTable, LookupRulesAndError)
{
    Library library;
    // "EV" reads as "RC"; a name that is still unknown names itself as last looked up
    EXPECT_NO_THROW(KORVIK::create_chip_model(nullptr, "EV1200"));
    EXPECT_NO_THROW(KORVIK::create_chip_model(nullptr, "RC1300"));
    for (const auto& bad : {std::string("XY1200"), std::string("rc1200"), std::string("RC1200 "),
                            std::string(""), std::string("E")}) {
        try {
            KORVIK::create_chip_model(nullptr, bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), "invalid Chip Model Name: " + bad);
        }
    }
    try {
        KORVIK::create_chip_model(nullptr, "EV9999");
        ADD_FAILURE() << "accepted EV9999";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "invalid Chip Model Name: RC9999");
    }
    // a failing lookup leaves the board constructor: no board is built
    EXPECT_THROW(SimBoard("1", "x0", "x", "XY1200", "0012340A0B0C", &library), std::runtime_error);
}

} // namespace
