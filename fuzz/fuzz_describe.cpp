// Feeds arbitrary sysfs attribute contents to the adapter description reader
// and the scan's maker and chip matching: the USB device's uevent,
// manufacturer and product, and the interface alias.
// Input: for each of those four files one byte (0xFF: the file is absent,
// else its length) and that many bytes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <string>

#include <glib.h>
#include <glib/gstdio.h>

#include <korvik/USBDevice.h>

#include "board/Protocol.h"
#include "transport/PcapAdapter.h"

namespace {

std::string net_dir;
const char* const FILES[] = {"/fz0/device/uevent", "/fz0/manufacturer", "/fz0/product", "/fz0/ifalias"};

void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_describe: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* base = g_file_test("/dev/shm", G_FILE_TEST_IS_DIR) ? "/dev/shm" : g_get_tmp_dir();
    std::string pattern = std::string(base) + "/fuzz_describe.XXXXXX";
    char* made = g_mkdtemp(&pattern[0]);
    require(made != nullptr, "cannot create a work directory");
    net_dir = made;
    // the interface node of a USB network function sits below its USB device
    require(g_mkdir_with_parents((net_dir + "/fz0/device").c_str(), 0700) == 0, "cannot create the tree");
    std::atexit([] {
        for (const char* f : FILES)
            g_remove((net_dir + f).c_str());
        for (const char* d : {"/fz0/device", "/fz0", ""})
            g_rmdir((net_dir + d).c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size_t i = 0;
    for (const char* f : FILES) {
        const std::string path = net_dir + f;
        g_remove(path.c_str());
        if (i >= size || data[i] == 0xFF) {
            ++i;
            continue;
        }
        size_t len = data[i++];
        len = std::min(len, size - i);
        require(g_file_set_contents(path.c_str(), reinterpret_cast<const char*>(data + i), gssize(len), nullptr),
                "cannot write a sysfs file");
        i += len;
    }

    const std::string description = KORVIK::describe_interface(net_dir, "fz0");
    require(description.find('\n') == std::string::npos, "description spans lines");

    KORVIK::protocol::description_names_maker(description);
    static const std::list<std::string> names = KORVIK::USBDevice::get_supported_chips();
    const std::string chip = KORVIK::protocol::select_chip(description, names);
    require(chip.empty() || description.find(chip) != std::string::npos, "chip not named in the description");
    return 0;
}
