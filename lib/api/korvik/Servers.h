#pragma once

#include <list>
#include <string>

#include <korvik/Export.h>

namespace KORVIK {

class USBDevice;

/// Boards of korvikd servers. A korvikd serves its host's boards to programs
/// without raw-socket rights and to other hosts. A server's boards arrive
/// through USBDevice's connect notifications like plugged-in boards, on the
/// interface "<server>/<id>" ("local/<id>" for the default socket), and open
/// and work through USBDevice; they leave (disconnect notification) when the
/// server goes away and come back when it returns. The chip model stays in
/// this process; writes need the board's lease, which the first write takes
/// and closing the last handle gives back. KORVIK_SERVER=URI[,URI...] in the
/// environment connects when the library starts.
class KORVIK_API Servers {
public:
    /// Connects to the korvikd at `uri`: unix:PATH, tls://HOST:PORT (or
    /// HOST:PORT), tcp://HOST:PORT (a daemon on loopback without TLS), with
    /// an optional ?token=TOKEN&ca=FILE&cert=FILE&key=FILE (else KORVIK_TOKEN,
    /// KORVIK_CA, KORVIK_CERT and KORVIK_KEY; a client certificate is the
    /// alternative to a token).
    /// Connecting to one already connected does nothing. Throws
    /// std::runtime_error naming the server and the reason ("permission
    /// denied", cannot connect, ...).
    static void connect(const std::string& uri);
    /// Whether the korvikd at `uri` answers within `timeout_ms`, without
    /// connecting: an empty string when it does, else the reason connect
    /// would throw. Any thread may call it, so a program with a window can
    /// ask on a thread of its own and connect once the server answered.
    static std::string check(const std::string& uri, int timeout_ms = 2000);
    /// Ends the connection; its boards leave. False when it was not connected.
    static bool disconnect(const std::string& uri);
    /// The servers connected, as given to connect.
    static std::list<std::string> list();
    /// Whether the board is one of a korvikd.
    static bool is_remote(const USBDevice& device);
    /// The server a board comes from, as given to connect; empty for boards
    /// of this process.
    static std::string server_of(const USBDevice& device);
    /// Who holds the lease of a server's board and until when,
    /// "user@host (program) until HH:MM:SS" in local time; empty when nobody
    /// does and for boards of this process.
    static std::string lease_holder(const USBDevice& device);
};

} // namespace KORVIK
