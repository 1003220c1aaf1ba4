#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace KORVIK {

/// Parameters of every adapter the library opens.
struct AdapterParams {
    static constexpr int CAPTURE_LENGTH = 444;
    static constexpr int READ_TIMEOUT_MS = 1000;
    /// Capture ring per adapter: about 256 frames of the capture length, a
    /// quarter of a second of the densest receive traffic a board sends,
    /// far more than the replies of the requests one window has in flight.
    static constexpr int CAPTURE_BUFFER_SIZE = 128 * 1024;
};

/// One open frame adapter. The packet-capture implementation sits on
/// libpcap; tests use in-memory fakes.
class Adapter {
public:
    virtual ~Adapter() = default;

    /// Sends one complete frame; 0 on success.
    virtual int send(const uint8_t* frame, unsigned len) = 0;
    /// Sends frames in order, back to back; the number sent before the
    /// first failure.
    virtual unsigned send_all(const uint8_t* const* frames, const unsigned* lens, unsigned count)
    {
        for (unsigned i = 0; i < count; ++i)
            if (send(frames[i], lens[i]) != 0)
                return i;
        return count;
    }
    /// Reads one frame without blocking: 1 = frame (valid until the next
    /// call), 0 = nothing waiting, -1 = error (see get_error()).
    virtual int next(const uint8_t** frame, unsigned* len) = 0;
    /// Waits up to timeout_ms until next() has something to report; false
    /// when the time passed quietly.
    virtual bool wait(int timeout_ms) = 0;
    /// Descriptor that becomes readable when frames are waiting.
    virtual int get_fd() const = 0;
    virtual std::string get_error() const = 0;
    /// Largest payload of a frame on this link.
    virtual unsigned get_mtu() const { return 1500; }
};

struct AdapterInfo {
    std::string name;
    std::string description;
};

/// Enumerates and opens adapters.
class AdapterSystem {
public:
    virtual ~AdapterSystem() = default;

    /// All adapters with their descriptions; false with an error text on failure.
    virtual bool list(std::vector<AdapterInfo>& adapters, std::string& error) = 0;
    /// Opens one adapter with AdapterParams; null with an error text on
    /// failure. Called from several threads at once for different adapters.
    virtual std::unique_ptr<Adapter> open(const std::string& name, std::string& error) = 0;
};

/// Tells the library that adapters may have come or gone.
class HotplugSource {
public:
    virtual ~HotplugSource() = default;

    /// Descriptor that becomes readable when there is news.
    virtual int get_fd() const = 0;
    /// Consumes the news. Names of adapters that went away are appended to
    /// `removed`; the result says whether a rescan may find something new.
    virtual bool read_changes(std::vector<std::string>& removed) = 0;
    /// Appends the names of the links that the last read_changes() found
    /// new, renamed or come up; false when this source cannot tell names.
    virtual bool take_changed_links(std::vector<std::string>& names)
    {
        (void)names;
        return false;
    }
};

} // namespace KORVIK
