#include "transport/Capture.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include <sys/stat.h>
#include <time.h>
#include <pcap/pcap.h>

#include "board/FrameTap.h"
#include "board/Protocol.h"
#include "model/common/Diagnostics.h"

namespace KORVIK {

namespace {

/// Frames kept per board while a capture waits for its board to be named.
constexpr size_t MAX_HELD_FRAMES = 100000;

struct HeldFrame {
    struct timespec time;
    std::vector<uint8_t> bytes;
};

class CaptureState {
public:
    std::mutex mutex;
    bool running = false;
    std::string pattern;
    CaptureOptions options;
    pcap_t* dead = nullptr;
    std::map<std::string, pcap_dumper_t*> dumpers; // by file name
    std::map<std::string, std::vector<HeldFrame>> held;
    bool selected = false;
    std::string only;
    uint64_t written = 0;
    bool failed = false;

    ~CaptureState() { close(); }

    void close()
    {
        for (auto& d : dumpers)
            pcap_dump_close(d.second);
        dumpers.clear();
        if (dead)
            pcap_close(dead);
        dead = nullptr;
        held.clear();
        running = false;
    }

    std::string file_for(const std::string& interface) const
    {
        std::string path = pattern;
        const size_t at = path.find("%i");
        if (at == std::string::npos)
            return path;
        std::string name = interface;
        for (char& c : name)
            if (c == '/')
                c = '_';
        return path.replace(at, 2, name);
    }

    pcap_dumper_t* dumper_for(const std::string& file, std::string& error)
    {
        auto it = dumpers.find(file);
        if (it != dumpers.end())
            return it->second;
        struct stat st;
        const bool exists = ::stat(file.c_str(), &st) == 0 && st.st_size > 0;
        pcap_dumper_t* d = options.append && exists ? pcap_dump_open_append(dead, file.c_str())
                                                    : pcap_dump_open(dead, file.c_str());
        if (!d) {
            error = pcap_geterr(dead);
            return nullptr;
        }
        dumpers[file] = d;
        return d;
    }

    void select(const std::string& interface)
    {
        selected = true;
        only = interface;
        auto it = held.find(interface);
        if (it != held.end())
            for (const HeldFrame& f : it->second)
                write(interface, f.time, f.bytes.data(), unsigned(f.bytes.size()));
        held.clear();
    }

    void write(const std::string& interface, const struct timespec& t, const uint8_t* frame, unsigned len)
    {
        std::string error;
        const std::string file = file_for(interface);
        pcap_dumper_t* d = dumper_for(file, error);
        if (!d) {
            if (!failed)
                diag() << "capture: cannot write " << file << ": " << error << std::endl;
            failed = true;
            return;
        }
        struct pcap_pkthdr header;
        std::memset(&header, 0, sizeof header);
        header.ts.tv_sec = t.tv_sec;
        // the dead handle writes nanoseconds: this field carries them
        header.ts.tv_usec = suseconds_t(t.tv_nsec);
        header.caplen = len;
        header.len = len;
        pcap_dump(reinterpret_cast<u_char*>(d), &header, frame);
        // a capture ended by a signal or a crash keeps every frame up to it
        pcap_dump_flush(d);
        ++written;
    }
};

CaptureState& state()
{
    static CaptureState* s = new CaptureState; // lives until the process ends
    return *s;
}

void capture_tap(const std::string& interface, const uint8_t* frame, unsigned len)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    CaptureState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.running || !frame)
        return;
    if (!s.options.board.empty() && !s.selected) {
        std::vector<HeldFrame>& frames = s.held[interface];
        if (frames.size() < MAX_HELD_FRAMES)
            frames.push_back(HeldFrame{now, std::vector<uint8_t>(frame, frame + len)});
        std::string serial;
        uint8_t mac[6];
        if (interface == s.options.board ||
            (protocol::parse_ident_answer(frame, len, serial, mac) && serial == s.options.board))
            s.select(interface);
        return;
    }
    if (s.selected && interface != s.only)
        return;
    s.write(interface, now, frame, len);
}

class CaptureAdapter : public Adapter {
public:
    CaptureAdapter(std::unique_ptr<Adapter> a, const std::string& name) : inner(std::move(a)), interface(name) {}

    int send(const uint8_t* frame, unsigned len) override
    {
        int r = inner->send(frame, len);
        if (r == 0)
            tap_frame(interface, frame, len);
        return r;
    }
    unsigned send_all(const uint8_t* const* frames, const unsigned* lens, unsigned count) override
    {
        unsigned sent = inner->send_all(frames, lens, count);
        for (unsigned i = 0; i < sent && i < count; ++i)
            tap_frame(interface, frames[i], lens[i]);
        return sent;
    }
    int next(const uint8_t** frame, unsigned* len) override
    {
        int r = inner->next(frame, len);
        if (r == 1)
            tap_frame(interface, *frame, *len);
        return r;
    }
    bool wait(int timeout_ms) override { return inner->wait(timeout_ms); }
    int get_fd() const override { return inner->get_fd(); }
    std::string get_error() const override { return inner->get_error(); }
    unsigned get_mtu() const override { return inner->get_mtu(); }

private:
    std::unique_ptr<Adapter> inner;
    std::string interface;
};

} // namespace

bool start_capture(const std::string& path, const CaptureOptions& options, std::string& error)
{
    if (path.empty()) {
        error = "no capture file named";
        return false;
    }
    CaptureState& s = state();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.close();
        s.pattern = path;
        s.options = options;
        s.selected = false;
        s.only.clear();
        s.written = 0;
        s.failed = false;
        s.dead = pcap_open_dead_with_tstamp_precision(DLT_EN10MB, 65535, PCAP_TSTAMP_PRECISION_NANO);
        if (!s.dead) {
            error = "cannot set up the capture";
            return false;
        }
        // a single file is made at once, so a path that cannot be written
        // fails here and not at the first frame
        if (path.find("%i") == std::string::npos && !s.dumper_for(path, error)) {
            error = path + ": " + error;
            s.close();
            return false;
        }
        s.running = true;
    }
    set_frame_tap(capture_tap);
    return true;
}

void stop_capture()
{
    set_frame_tap(nullptr);
    CaptureState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.close();
}

bool is_capturing()
{
    CaptureState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.running;
}

uint64_t get_captured_frames()
{
    CaptureState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.written;
}

void start_capture_from_environment()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    const char* file = std::getenv("KORVIK_CAPTURE");
    if (!file || !*file || is_capturing())
        return;
    CaptureOptions options;
    // every process of a session adds to the one file
    options.append = true;
    std::string error;
    if (!start_capture(file, options, error))
        diag() << "KORVIK_CAPTURE: " << error << std::endl;
}

std::unique_ptr<Adapter> capture_adapter(std::unique_ptr<Adapter> adapter, const std::string& interface)
{
    if (!adapter)
        return adapter;
    return std::unique_ptr<Adapter>(new CaptureAdapter(std::move(adapter), interface));
}

namespace {

bool read_from(pcap_t* p, const std::string& name, RecordingBuilder& builder, std::string& error)
{
    const int link = pcap_datalink(p);
    if (link != DLT_EN10MB) {
        const char* link_name = pcap_datalink_val_to_name(link);
        error = name + ": link type " + (link_name ? link_name : std::to_string(link)) +
                ", but board captures hold Ethernet frames";
        return false;
    }
    const bool nano = pcap_get_tstamp_precision(p) == PCAP_TSTAMP_PRECISION_NANO;
    uint64_t frames = 0;
    unsigned cut = 0;
    for (;;) {
        struct pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        const int r = pcap_next_ex(p, &header, &data);
        if (r == PCAP_ERROR_BREAK)
            break;
        if (r != 1) {
            // what came before the damage is still a recording
            diag() << "replay: " << name << ": reading stopped after " << frames
                   << " frames: " << pcap_geterr(p) << std::endl;
            break;
        }
        if (++frames > MAX_CAPTURE_FRAMES) {
            diag() << "replay: " << name << ": only the first " << MAX_CAPTURE_FRAMES << " frames are replayed"
                   << std::endl;
            break;
        }
        if (header->caplen < header->len)
            ++cut;
        const double t = double(header->ts.tv_sec) + double(header->ts.tv_usec) / (nano ? 1e9 : 1e6);
        builder.add_frame(t, data, header->caplen);
    }
    if (cut)
        diag() << "replay: " << name << ": " << cut << " frames were cut short by the capture length" << std::endl;
    return true;
}

} // namespace

bool read_capture_file(const std::string& path, RecordingBuilder& builder, std::string& error)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        return false;
    }
    if (uint64_t(st.st_size) > MAX_CAPTURE_BYTES) {
        error = path + ": " + std::to_string(st.st_size) + " bytes is more than a replay reads (" +
                std::to_string(MAX_CAPTURE_BYTES) + ")";
        return false;
    }
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    pcap_t* p = pcap_open_offline_with_tstamp_precision(path.c_str(), PCAP_TSTAMP_PRECISION_NANO, errbuf);
    if (!p) {
        error = path + ": not a capture file (" + errbuf + ")";
        return false;
    }
    bool ok = read_from(p, path, builder, error);
    pcap_close(p);
    return ok;
}

bool read_capture_bytes(const uint8_t* data, size_t len, const std::string& name, RecordingBuilder& builder,
                        std::string& error)
{
    if (len == 0) {
        error = name + ": empty";
        return false;
    }
    FILE* f = fmemopen(const_cast<uint8_t*>(data), len, "rb");
    if (!f) {
        error = name + ": " + std::strerror(errno);
        return false;
    }
    char errbuf[PCAP_ERRBUF_SIZE] = "";
    // the handle owns the stream once it is made; not when that fails
    pcap_t* p = pcap_fopen_offline_with_tstamp_precision(f, PCAP_TSTAMP_PRECISION_NANO, errbuf);
    if (!p) {
        std::fclose(f);
        error = name + ": not a capture file (" + errbuf + ")";
        return false;
    }
    bool ok = read_from(p, name, builder, error);
    pcap_close(p);
    return ok;
}

} // namespace KORVIK
