/*
 * korvik.h - flat function interface of libkorvik-0, usable from C99, C++ and
 * any language that can call a shared library.
 *
 * Every function here wraps one operation of KORVIK::USBDevice. No function
 * lets an error escape: each returns the error value named in its comment and
 * writes one diagnostic line (to the standard error stream unless
 * libkorvik_set_diagnostic_sink routes them elsewhere).
 *
 * Who frees what: strings returned by this interface are malloc copies that
 * the caller releases with free() (except libkorvik_get_version), string lists
 * are released with libkorvik_free_stringlist(), the handle array of
 * libkorvik_get_poll_handles() with free(), and MAC pointers belong to the
 * handle and must not be released.
 *
 * Threading: every function and every callback runs on the thread that calls
 * libkorvik_periodic(); callbacks fire from inside libkorvik_periodic(),
 * libkorvik_rescan_devices(), libkorvik_open_simulation() and the setting of
 * a device-connect callback. Strings passed to callbacks are valid only
 * during the call.
 *
 * Callbacks are a function plus a user pointer, which is passed back as the
 * last argument. Setting a callback replaces the previous one of that kind;
 * a null function removes it. The two receive-packet kinds share one place,
 * so setting one removes the other. Callbacks may set, replace and remove
 * callbacks (their own included) and may close handles.
 *
 * Closing a handle disconnects every callback set on it at once. When
 * libkorvik_close() is called from inside any callback of this interface,
 * the handle's memory and its board reference are released later, by the
 * next libkorvik_periodic(); until then the handle answers with error values
 * and none of its callbacks is called again.
 *
 * Null handles and null pointer arguments are answered with the function's
 * error value (for functions without a result: nothing happens); the one
 * exception is the destination of the send functions, where null means the
 * board's NV radio MAC.
 *
 * Units: Hz, bit/s, seconds, ppm and dBm. Booleans are int 0 or 1.
 */
#ifndef KORVIK_KORVIK_H
#define KORVIK_KORVIK_H

#include <stdint.h>

#include <korvik/ChangeList.h>
#include <korvik/Export.h>

#if defined(_WIN32) && !defined(_WIN64)
/* exported functions: callee removes the arguments; callbacks: caller does */
#  define KORVIK_CALL __stdcall
#  define KORVIK_CALLBACK __cdecl
#else
#  define KORVIK_CALL
#  define KORVIK_CALLBACK
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** Opaque handle on one board; from an open function until libkorvik_close. */
typedef struct korvik_device korvik_device;

/** One status report of a board (same layout as KORVIK::USBDeviceStatus). */
typedef struct korvik_status {
    int32_t time_sec;     /**< host time of arrival (or clock estimate), seconds */
    int32_t time_usec;    /**< microseconds of the same time */
    uint16_t ticks;       /**< board tick counter */
    uint16_t value1, value2, value3; /**< passed through uninterpreted */
    uint8_t progstate;    /**< reprogramming and autoranging state code */
    uint8_t progdetail;   /**< second state byte */
    uint8_t aux1, aux2, aux3;        /**< passed through uninterpreted */
    uint8_t flag2, flag3, flag0, flag1, flag4, flag5, flag6, flag7; /**< bits of the flag byte, 0 or 1 */
} korvik_status;

/** Board arrival or removal: the board's serial. */
typedef void (KORVIK_CALLBACK *korvik_serial_fn)(const char* serial, void* user);
/** Board arrival or removal: interface name and serial. */
typedef void (KORVIK_CALLBACK *korvik_iface_fn)(const char* iface, const char* serial, void* user);
/** One status report. */
typedef void (KORVIK_CALLBACK *korvik_status_fn)(const korvik_status* status, void* user);
/** A received or transmitted packet with its 6-byte address. */
typedef void (KORVIK_CALLBACK *korvik_packet_fn)(const unsigned char* data, unsigned length,
                                                 const unsigned char* address, void* user);
/** A received packet with signal strength (sign-extended) and frequency offset. */
typedef void (KORVIK_CALLBACK *korvik_packet_v2_fn)(const unsigned char* data, unsigned length,
                                                    const unsigned char* address, int rssi,
                                                    int frequency_offset, void* user);
/** A register changed: its index and the two byte values of the change, zero-extended. */
typedef void (KORVIK_CALLBACK *korvik_register_fn)(unsigned index, unsigned value_a, unsigned value_b, void* user);
/** A bitfield changed: its index and value. */
typedef void (KORVIK_CALLBACK *korvik_bitfield_fn)(unsigned index, unsigned value, void* user);
/** Automatic range search ended with these receive and transmit ranges. */
typedef void (KORVIK_CALLBACK *korvik_autoranging_fn)(int rx_range, int tx_range, void* user);
/** A value changed; read it back with its getter. */
typedef void (KORVIK_CALLBACK *korvik_changed_fn)(void* user);
/** One diagnostic line of the library, without its newline; valid only during the call. */
typedef void (KORVIK_CALLBACK *korvik_diagnostic_fn)(const char* line, void* user);

/* ---- Library-wide functions ---- */

/** Library version text, a constant string that must not be released; error: null. */
KORVIK_API const char* KORVIK_CALL libkorvik_get_version(void);
/** Opens the board with this serial; error, null argument or no such board: null. */
KORVIK_API korvik_device* KORVIK_CALL libkorvik_open(const char* serial);
/** Opens the board on this interface; error, null argument or no such board: null. */
KORVIK_API korvik_device* KORVIK_CALL libkorvik_open_iface(const char* iface);
/** Opens the board with this serial or creates a simulated one; error or any null argument: null, nothing created. */
KORVIK_API korvik_device* KORVIK_CALL libkorvik_open_simulation(const char* serial, const char* display_name,
                                                                const char* chip, const char* ethmac);
/** Disconnects the handle's callbacks and releases it; null: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_close(korvik_device* dev);
/** Dispatches what is ready in the library's event loop, never blocks; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_periodic(void);
/** Runs a discovery scan now; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_rescan_devices(void);
/** Lets go of every real board that no handle holds, so that other programs can open them (a rescan finds
 *  them again); error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_release_unopened_boards(void);
/** Boards another program holds, as a string list of pairs: interface name, then who holds it
 *  ("in use by PID 123 (korvik)"); none: an empty list; error: null. */
KORVIK_API char** KORVIK_CALL libkorvik_get_busy_boards(void);
/** Stores the loop timeout in ms (-1 none) through timeout if not null; returns a malloc array of *count
 *  wait handles (file descriptors on Linux), null when there are none or count is null; error: null, *count 0. */
KORVIK_API void** KORVIK_CALL libkorvik_get_poll_handles(unsigned* count, int* timeout);
/** Names of the supported chips as a string list; error: null. */
KORVIK_API char** KORVIK_CALL libkorvik_get_supported_chips(void);
/** Releases a string list and its strings; null: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_free_stringlist(char** list);
/** Board arrival by serial; called at once for every present board; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_callback_device_connect(korvik_serial_fn fn, void* user);
/** Board removal by serial; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_callback_device_disconnect(korvik_serial_fn fn, void* user);
/** Board arrival by interface and serial; called at once for every present board; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_callback_device_iface_connect(korvik_iface_fn fn, void* user);
/** Board removal by interface and serial; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_callback_device_iface_disconnect(korvik_iface_fn fn, void* user);
/** Routes the library's diagnostic lines to fn; null restores the standard error stream (the default).
 *  fn runs on the thread that wrote the line and must not call this function; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_diagnostic_sink(korvik_diagnostic_fn fn, void* user);

/* ---- Captures and replay (see KORVIK::USBDevice::start_capture and open_replay) ---- */

/** Writes every board frame to file ("%i": one file per board interface); append non-zero adds to it.
 *  Returns 0, or -1 when the file cannot be written (the diagnostic line says why); error: -1. */
KORVIK_API int KORVIK_CALL libkorvik_start_capture(const char* file, int append);
/** Ends the capture; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_stop_capture(void);
/** Opens a capture file as a replayed board. Refused, error or null file: null, and when error is not
 *  null the reason is copied there (at most error_size bytes, always terminated). */
KORVIK_API korvik_device* KORVIK_CALL libkorvik_open_replay(const char* file, char* error, unsigned error_size);

/* ---- Virtual air between simulated boards (see KORVIK::USBDevice::set_virtual_air) ---- */

/** Turns the virtual air on (non-zero) or off; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_virtual_air(int on);
/** 1 when the virtual air is on; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_virtual_air(void);
/** Restarts the link model's random stream with this seed; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_virtual_air_seed(unsigned seed);
/** Path loss in dB between every pair of simulated boards; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_virtual_air_path_loss(double db);
/** Path loss in dB between the boards on two interfaces; null argument or error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_virtual_air_pair_path_loss(const char* iface_a, const char* iface_b,
                                                                     double db);
/** Simulated time (non-zero): packets arrive as fast as the loop is pumped; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_virtual_air_fast(int on);
/** 1 when the virtual air runs in simulated time; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_virtual_air_fast(void);
/** Deliveries still in the air; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_virtual_air_in_flight(void);
/** The air's clock in seconds (simulated in fast mode); error: 0. */
KORVIK_API double KORVIK_CALL libkorvik_get_virtual_air_time(void);

/* ---- Link check (see KORVIK::check_link) ---- */

/** Whether rx hears tx: 1 yes, 0 no; data/len the packet's first bytes for
 * the address rule (null: not decided by it); path_loss in dB, NaN for the
 * virtual air's value. Error: -1. */
KORVIK_API int KORVIK_CALL libkorvik_check_link(korvik_device* tx, korvik_device* rx, const unsigned char* data,
                                                unsigned len, double path_loss);
/** The same check as one JSON object (works, cause, fix, budget figures and
 * rules with name, applies, ok, margin, unit, detail, fix); free it. Error: null. */
KORVIK_API char* KORVIK_CALL libkorvik_check_link_json(korvik_device* tx, korvik_device* rx,
                                                      const unsigned char* data, unsigned len, double path_loss);

/* ---- Boards of korvikd servers (see KORVIK::Servers::connect) ---- */

/** Connects to the korvikd at uri; 0 on success, -1 on failure. On failure
    *error (when error is not null) gets the reason, a malloc copy the caller
    frees; it is left alone on success. */
KORVIK_API int KORVIK_CALL libkorvik_connect_server(const char* uri, char** error);
/** Ends the connection; 0 when it existed, -1 otherwise. */
KORVIK_API int KORVIK_CALL libkorvik_disconnect_server(const char* uri);

/* ---- Identity, counters and board state ---- */

/** Serial (free it); error: null. */
KORVIK_API char* KORVIK_CALL libkorvik_get_serial(korvik_device* dev);
/** Interface name (free it); error: null. */
KORVIK_API char* KORVIK_CALL libkorvik_get_interface(korvik_device* dev);
/** Display name (free it); error: null. */
KORVIK_API char* KORVIK_CALL libkorvik_get_display_name(korvik_device* dev);
/** Serial kept in the NV sector (free it); error: null. */
KORVIK_API char* KORVIK_CALL libkorvik_get_nv_serial(korvik_device* dev);
/** 6-byte Ethernet MAC owned by the handle; error: null. */
KORVIK_API const unsigned char* KORVIK_CALL libkorvik_get_ethernet_mac(korvik_device* dev);
/** 6-byte radio Ethernet MAC owned by the handle; error: null. */
KORVIK_API const unsigned char* KORVIK_CALL libkorvik_get_radio_ethernet_mac(korvik_device* dev);
/** 6-byte NV Ethernet MAC owned by the handle; error: null. */
KORVIK_API const unsigned char* KORVIK_CALL libkorvik_get_nv_ethernet_mac(korvik_device* dev);
/** 6-byte NV radio Ethernet MAC owned by the handle; error: null. */
KORVIK_API const unsigned char* KORVIK_CALL libkorvik_get_nv_radio_ethernet_mac(korvik_device* dev);
/** Received packet counter; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_rx_pkt_count(korvik_device* dev);
/** Transmitted packet counter; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_tx_pkt_count(korvik_device* dev);
/** Continuous-wave transmission on; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_transmit_cw(korvik_device* dev);
/** Board has failed or left; error: 1. */
KORVIK_API int KORVIK_CALL libkorvik_is_dead(korvik_device* dev);
/** Stored defaults are a store that did not finish (not taken at open); error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_nv_interrupted(korvik_device* dev);
/** Board's network side is up; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_net_up(korvik_device* dev);
/** Board flags; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_boardflags(korvik_device* dev);

/* ---- NV memory and defaults ---- */

/** Sets the NV Ethernet MAC (6 bytes); error or null mac: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_nv_ethmac(korvik_device* dev, const unsigned char* mac);
/** Sets the NV radio Ethernet MAC (6 bytes); error or null mac: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_nv_radio_ethmac(korvik_device* dev, const unsigned char* mac);
/** Sets the NV serial; error or null serial: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_nv_serial(korvik_device* dev, const char* serial);
/** Reads the chip's operating registers; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_load_chipoperating(korvik_device* dev);
/** Loads the chip's reset defaults; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_load_chipdefaults(korvik_device* dev);
/** Loads the board's stored defaults; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_load_boarddefaults(korvik_device* dev);
/** Writes the board's NV sector; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_store_boarddefaults(korvik_device* dev);

/* ---- Packets and carrier ---- */

/** Sends a packet to a 6-byte address (null: the board's NV radio MAC); error or null data with length: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_send_packet(korvik_device* dev, const unsigned char* data, unsigned length,
                                                  const unsigned char* address);
/** Sends a length-framed packet to a 6-byte address (null: the board's NV radio MAC); error or null data with
 *  length: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_send_bpq_packet(korvik_device* dev, const unsigned char* data, unsigned length,
                                                      const unsigned char* address);
/** Switches continuous-wave transmission; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_transmit_cw(korvik_device* dev, int on);

/* ---- Channel access ---- */

/** Names of the channel-access modes as a string list; error: null. */
KORVIK_API char** KORVIK_CALL libkorvik_get_chacc_supported_channelaccessmodes(korvik_device* dev);
/** Channel-access mode; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_get_chacc_channelaccessmode(korvik_device* dev);
/** p-persistence; error: NaN. */
KORVIK_API double KORVIK_CALL libkorvik_get_chacc_ppersistence(korvik_device* dev);
/** Slot time, s; error: NaN. */
KORVIK_API double KORVIK_CALL libkorvik_get_chacc_slottime(korvik_device* dev);
/** RSSI threshold, dBm; error: NaN. */
KORVIK_API double KORVIK_CALL libkorvik_get_chacc_rssithreshold(korvik_device* dev);
/** Background threshold; error: NaN. */
KORVIK_API double KORVIK_CALL libkorvik_get_chacc_bgndthreshold(korvik_device* dev);
/** Preamble, bytes; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_chacc_preamble(korvik_device* dev);
/** Preamble duration, s; error: NaN. */
KORVIK_API double KORVIK_CALL libkorvik_get_chacc_preamble_sec(korvik_device* dev);
/** Address length; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_chacc_addrlength(korvik_device* dev);
/** Address 1 matching on; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_get_chacc_addrmatch1(korvik_device* dev);
/** Address 2 matching on; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_get_chacc_addrmatch2(korvik_device* dev);
/** Copies match address 1 into out[6]; error or null out: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_get_chacc_addr1(korvik_device* dev, unsigned char* out);
/** Copies match address 2 into out[6]; error or null out: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_get_chacc_addr2(korvik_device* dev, unsigned char* out);
/** Sets the channel-access mode; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_chacc_channelaccessmode(korvik_device* dev, int mode);
/** Sets p-persistence; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_chacc_ppersistence(korvik_device* dev, double p);
/** Sets the slot time, s; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_chacc_slottime(korvik_device* dev, double seconds);
/** Sets the RSSI threshold, dBm; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_chacc_rssithreshold(korvik_device* dev, double dbm);
/** Sets the background threshold; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_chacc_bgndthreshold(korvik_device* dev, double value);
/** Sets the preamble, bytes; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_chacc_preamble(korvik_device* dev, unsigned char bytes);
/** Sets the address length; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_chacc_addrlength(korvik_device* dev, unsigned char length);
/** Switches address 1 matching; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_chacc_addrmatch1(korvik_device* dev, int on);
/** Switches address 2 matching; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_chacc_addrmatch2(korvik_device* dev, int on);
/** Sets match address 1 from addr[6]; error or null addr: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_chacc_addr1(korvik_device* dev, const unsigned char* addr);
/** Sets match address 2 from addr[6]; error or null addr: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_chacc_addr2(korvik_device* dev, const unsigned char* addr);

/* ---- Register table (index 0 .. count-1; out of range reads 0) ---- */

/** Number of registers; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_registers(korvik_device* dev);
/** Register's writable-bit mask (8 bits); error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_register_mask(korvik_device* dev, unsigned index);
/** Register's chip address (16 bits); error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_register_chipaddr(korvik_device* dev, unsigned index);
/** Register's operating address (16 bits); error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_register_operatingaddr(korvik_device* dev, unsigned index);
/** Register's chip value (8 bits); error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_register_chipvalue(korvik_device* dev, unsigned index);
/** Register's NV value (8 bits); error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_register_nvvalue(korvik_device* dev, unsigned index);
/** Register's default value (8 bits); error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_register_defaultvalue(korvik_device* dev, unsigned index);
/** Register's change mask (8 bits); error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_register_changemask(korvik_device* dev, unsigned index);
/** Sets a register's chip value; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_register_chipvalue(korvik_device* dev, unsigned index, unsigned char value);
/** Sets bits x and clears bits clear of a register's chip value; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_frob_register_chipvalue(korvik_device* dev, unsigned index, unsigned char x,
                                                              unsigned char clear);
/** Register shared by receiver and transmitter; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_register_shared(korvik_device* dev, unsigned index);
/** Register belongs to the receiver; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_register_receive(korvik_device* dev, unsigned index);
/** Register belongs to the transmitter; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_register_transmit(korvik_device* dev, unsigned index);
/** Register name (free it); error: null. */
KORVIK_API char* KORVIK_CALL libkorvik_get_register_name(korvik_device* dev, unsigned index);
/** Writes the changed registers to the chip; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_commit_registers(korvik_device* dev);
/** Writes every register to the chip; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_commit_all_registers(korvik_device* dev);

/* ---- Bitfield table ---- */

/** Number of bitfields; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_bitfields(korvik_device* dev);
/** Bitfield's chip value; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_bitfield_chipvalue(korvik_device* dev, unsigned index);
/** Bitfield's NV value; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_bitfield_nvvalue(korvik_device* dev, unsigned index);
/** Bitfield's default value; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_bitfield_defaultvalue(korvik_device* dev, unsigned index);
/** Bitfield's change mask; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_bitfield_changemask(korvik_device* dev, unsigned index);
/** Sets a bitfield's chip value; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_bitfield_chipvalue(korvik_device* dev, unsigned index, unsigned value);
/** Bitfield width in bits; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_bitfield_bitlength(korvik_device* dev, unsigned index);
/** Bitfield name (free it); error: null. */
KORVIK_API char* KORVIK_CALL libkorvik_get_bitfield_name(korvik_device* dev, unsigned index);
/** Bitfield description (free it); error: null. */
KORVIK_API char* KORVIK_CALL libkorvik_get_bitfield_description(korvik_device* dev, unsigned index);
/** Bitfield tooltip (free it); error: null. */
KORVIK_API char* KORVIK_CALL libkorvik_get_bitfield_tooltip(korvik_device* dev, unsigned index);

/* ---- Chip identity and capabilities ---- */

/** Chip name (free it); error: null. */
KORVIK_API char* KORVIK_CALL libkorvik_get_chip_name(korvik_device* dev);
/** Chip flags (1 receive, 2 transmit); error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_chipflags(korvik_device* dev);
/** Crystal frequency, Hz; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_xtal_frequency(korvik_device* dev);
/** Crystal tolerance, ppm; error: 0.0. */
KORVIK_API double KORVIK_CALL libkorvik_get_xtal_tolerance(korvik_device* dev);
/** Names of the bit-timing recovery settings as a string list; error: null. */
KORVIK_API char** KORVIK_CALL libkorvik_get_supported_rx_btr_settings(korvik_device* dev);
/** Names of the modulations as a string list; error: null. */
KORVIK_API char** KORVIK_CALL libkorvik_get_supported_modulations(korvik_device* dev);
/** Names of the framing modes as a string list; error: null. */
KORVIK_API char** KORVIK_CALL libkorvik_get_supported_framingmodes(korvik_device* dev);
/** Names of the CRC modes as a string list; error: null. */
KORVIK_API char** KORVIK_CALL libkorvik_get_supported_crcmodes(korvik_device* dev);
/** Mask of the supported encoding options (1, 2, 4, 8); error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_supported_encodingmodes(korvik_device* dev);
/** Copies the ten current values into out[10] (NaN: no value); null out: nothing; error: out[0..4] NaN. */
KORVIK_API void KORVIK_CALL libkorvik_get_currents(korvik_device* dev, double* out);

/* ---- Air-interface parameters ---- */

/** Receive modulation id; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_get_rx_modulation(korvik_device* dev);
/** Transmit modulation id; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_get_tx_modulation(korvik_device* dev);
/** Receive carrier frequency, Hz; error: NaN. */
KORVIK_API double KORVIK_CALL libkorvik_get_rx_carrierfrequency(korvik_device* dev);
/** Transmit carrier frequency, Hz; error: NaN. */
KORVIK_API double KORVIK_CALL libkorvik_get_tx_carrierfrequency(korvik_device* dev);
/** Receiver bandwidth, Hz; error: NaN. */
KORVIK_API double KORVIK_CALL libkorvik_get_rx_bandwidth(korvik_device* dev);
/** Transmit deviation, Hz; error: NaN. */
KORVIK_API double KORVIK_CALL libkorvik_get_tx_deviation(korvik_device* dev);
/** Receive bitrate, bit/s; error: NaN. */
KORVIK_API double KORVIK_CALL libkorvik_get_rx_bitrate(korvik_device* dev);
/** Transmit bitrate, bit/s; error: NaN. */
KORVIK_API double KORVIK_CALL libkorvik_get_tx_bitrate(korvik_device* dev);
/** Bit-timing recovery setting; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_get_rx_btr(korvik_device* dev);
/** Bit-timing recovery setting during the preamble; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_get_rx_btr_preamble(korvik_device* dev);
/** Transmit power, dBm; error: NaN. */
KORVIK_API double KORVIK_CALL libkorvik_get_tx_power(korvik_device* dev);
/** Receive range; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_rx_range(korvik_device* dev);
/** Transmit range; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_tx_range(korvik_device* dev);
/** Largest receivable frequency offset, Hz; error: NaN. */
KORVIK_API double KORVIK_CALL libkorvik_get_rx_maxfrequencyoffset(korvik_device* dev);
/** Converts a reported frequency offset to Hz; error: 0.0. */
KORVIK_API double KORVIK_CALL libkorvik_convert_frequencyoffset(korvik_device* dev, int offset);
/** Intermediate frequency, Hz; error: NaN. */
KORVIK_API double KORVIK_CALL libkorvik_get_iffrequency(korvik_device* dev);
/** AGC reference; error: -2147483648. */
KORVIK_API int KORVIK_CALL libkorvik_get_agcreference(korvik_device* dev);
/** Framing mode id; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_get_framingmode(korvik_device* dev);
/** Inverted encoding on; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_get_enc_invert(korvik_device* dev);
/** Differential encoding on; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_get_enc_diff(korvik_device* dev);
/** Scrambler on; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_get_enc_scrambler(korvik_device* dev);
/** Manchester encoding on; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_get_enc_manchester(korvik_device* dev);
/** CRC mode id; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_get_crcmode(korvik_device* dev);
/** CRC initial value; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_crcinit(korvik_device* dev);
/** CRC length, bits; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_crclength(korvik_device* dev);
/** Transmit key-up byte (8 bits); error: 85. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_txkeyup(korvik_device* dev);
/** Transmit key-up length; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_txkeyup_length(korvik_device* dev);
/** Preamble pattern; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_preamble(korvik_device* dev);
/** Preamble length; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_preamble_length(korvik_device* dev);
/** Postamble length; error: 0. */
KORVIK_API unsigned KORVIK_CALL libkorvik_get_postamble_length(korvik_device* dev);

/** Modulation m is shaped; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_modulation_shaped(korvik_device* dev, int m);
/** Modulation m is amplitude keying; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_modulation_ask(korvik_device* dev, int m);
/** Modulation m is phase keying; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_modulation_psk(korvik_device* dev, int m);
/** Modulation m is frequency keying; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_modulation_fsk(korvik_device* dev, int m);
/** Modulation m is 4-level frequency keying; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_modulation_4fsk(korvik_device* dev, int m);
/** Framing is raw; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_framingmode_raw(korvik_device* dev);
/** Framing is raw soft; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_framingmode_rawsoft(korvik_device* dev);
/** Framing is raw with preamble match; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_framingmode_rawpreamblematch(korvik_device* dev);
/** Framing is HDLC; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_framingmode_hdlc(korvik_device* dev);
/** Framing is HDLC with FEC; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_framingmode_hdlc_fec(korvik_device* dev);
/** Framing is 802.15.4; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_framingmode_zigbee(korvik_device* dev);
/** Framing is 802.15.4 (900 MHz); error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_framingmode_zigbee_900(korvik_device* dev);
/** Framing is 802.15.4 (2.4 GHz); error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_framingmode_zigbee_2g4(korvik_device* dev);
/** Framing is wire mode; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_framingmode_wiremode(korvik_device* dev);
/** Framing supports a CRC; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_framingmode_crcsupported(korvik_device* dev);
/** CRC is CCITT; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_crcmode_ccitt(korvik_device* dev);
/** CRC is CRC-16; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_crcmode_crc16(korvik_device* dev);
/** CRC is DNP; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_crcmode_dnp(korvik_device* dev);
/** CRC is CRC-32; error: 0. */
KORVIK_API int KORVIK_CALL libkorvik_is_crcmode_crc32(korvik_device* dev);

/** Sets the crystal frequency, Hz; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_xtal_frequency(korvik_device* dev, unsigned hz);
/** Sets the crystal tolerance, ppm; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_xtal_tolerance(korvik_device* dev, double ppm);
/** Receiver setup; the bandwidth is derived from bitrate and modulation; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_rx(korvik_device* dev, double bandwidth, double bitrate, int modulation,
                                             int btr);
/** Transmitter setup; the deviation is derived from bitrate and modulation; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_tx(korvik_device* dev, double deviation, double bitrate, int modulation);
/** Sets the receive modulation; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_rx_modulation(korvik_device* dev, int m);
/** Sets the transmit modulation; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_tx_modulation(korvik_device* dev, int m);
/** Sets the receive carrier frequency, Hz; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_rx_carrierfrequency(korvik_device* dev, double hz);
/** Sets the transmit carrier frequency, Hz; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_tx_carrierfrequency(korvik_device* dev, double hz);
/** Sets the receiver bandwidth, Hz; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_rx_bandwidth(korvik_device* dev, double hz);
/** Sets the transmit deviation, Hz; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_tx_deviation(korvik_device* dev, double hz);
/** Sets the receive bitrate, bit/s; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_rx_bitrate(korvik_device* dev, double bps);
/** Sets the transmit bitrate, bit/s; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_tx_bitrate(korvik_device* dev, double bps);
/** Sets the bit-timing recovery setting; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_rx_btr(korvik_device* dev, int btr);
/** Sets the transmit power, dBm; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_tx_power(korvik_device* dev, double dbm);
/** Moves the transmit power by a number of steps; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_step_tx_power(korvik_device* dev, int steps);
/** Sets the receive range; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_rx_range(korvik_device* dev, unsigned range);
/** Sets the transmit range; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_tx_range(korvik_device* dev, unsigned range);
/** Sets the intermediate frequency, Hz; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_iffrequency(korvik_device* dev, double hz);
/** Sets the framing mode; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_framingmode(korvik_device* dev, int mode);
/** Switches inverted encoding; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_enc_invert(korvik_device* dev, int on);
/** Switches differential encoding; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_enc_diff(korvik_device* dev, int on);
/** Switches the scrambler; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_enc_scrambler(korvik_device* dev, int on);
/** Switches Manchester encoding; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_enc_manchester(korvik_device* dev, int on);
/** Sets the CRC mode; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_crcmode(korvik_device* dev, int mode);
/** Sets the CRC initial value; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_crcinit(korvik_device* dev, unsigned init);
/** Sets the preamble pattern; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_preamble(korvik_device* dev, unsigned preamble);
/** Sets the preamble length; error: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_set_preamble_length(korvik_device* dev, unsigned length);

/* ---- Per-device callbacks (null fn removes; error or closed handle: nothing) ---- */

KORVIK_API void KORVIK_CALL libkorvik_set_callback_status(korvik_device* dev, korvik_status_fn fn, void* user);
/** Replaces the v2 receive callback too. */
KORVIK_API void KORVIK_CALL libkorvik_set_callback_receive_packet(korvik_device* dev, korvik_packet_fn fn, void* user);
/** Replaces the plain receive callback too. */
KORVIK_API void KORVIK_CALL libkorvik_set_callback_receive_packet_v2(korvik_device* dev, korvik_packet_v2_fn fn,
                                                                     void* user);
KORVIK_API void KORVIK_CALL libkorvik_set_callback_transmit_packet(korvik_device* dev, korvik_packet_fn fn, void* user);
KORVIK_API void KORVIK_CALL libkorvik_set_callback_changed_register(korvik_device* dev, korvik_register_fn fn,
                                                                    void* user);
KORVIK_API void KORVIK_CALL libkorvik_set_callback_changed_bitfield(korvik_device* dev, korvik_bitfield_fn fn,
                                                                    void* user);
KORVIK_API void KORVIK_CALL libkorvik_set_callback_terminate_autoranging(korvik_device* dev, korvik_autoranging_fn fn,
                                                                         void* user);

#define KORVIK_DECLARE_CHANGED_(name) \
    KORVIK_API void KORVIK_CALL libkorvik_set_callback_changed_##name(korvik_device* dev, korvik_changed_fn fn, void* user);
/* one changed_ callback per entry of korvik/ChangeList.h: libkorvik_set_callback_changed_<name> */
KORVIK_CHANGES(KORVIK_DECLARE_CHANGED_)
#undef KORVIK_DECLARE_CHANGED_

/* ---- Parameters by name (see KORVIK::USBDevice::get_param_table) ----
 * Names are those of the functions above (tx_power: libkorvik_get_tx_power).
 * These functions return a status, KORVIK_OK or a negative KORVIK_E_ code;
 * after a failure libkorvik_last_error() tells why, on the same thread. The
 * read-only answers never write to the board. */

#define KORVIK_OK 0
#define KORVIK_E_ARGUMENT (-1) /**< null or closed handle, null argument */
#define KORVIK_E_NAME (-2)     /**< unknown name, or one the board's chip lacks */
#define KORVIK_E_READ_ONLY (-3)
#define KORVIK_E_VALUE (-4)    /**< a value refused: outside the range, between steps (strict), wrong kind or form */
#define KORVIK_E_FAILED (-5)   /**< the board failed, or another error */

/** Kinds (korvik_param_info.kind). */
#define KORVIK_PARAM_QUANTITY 0 /**< number in the unit */
#define KORVIK_PARAM_CHOICE 1   /**< position in a list of names, from 0 */
#define KORVIK_PARAM_FLAG 2     /**< 0 or 1 */
#define KORVIK_PARAM_ADDRESS 3  /**< text "40:00:12:34:56:00" */
#define KORVIK_PARAM_TEXT 4
/** Scopes (korvik_param_info.scope). */
#define KORVIK_SCOPE_RX 0
#define KORVIK_SCOPE_TX 1
#define KORVIK_SCOPE_CHIP 2
#define KORVIK_SCOPE_BOARD 3
#define KORVIK_SCOPE_HOST 4
/** Policies of libkorvik_apply_params. */
#define KORVIK_POLICY_STRICT 0
#define KORVIK_POLICY_CLAMP 1

/** One row of the parameter table; the strings are constants of the library. */
typedef struct korvik_param_info {
    const char* name;
    const char* unit;         /**< "Hz", "bit/s", "s", "dBm", "ppm", "bit", "byte" or "" */
    int kind;                 /**< KORVIK_PARAM_ */
    int scope;                /**< KORVIK_SCOPE_ */
    unsigned chips;           /**< bits: 1 RC1200, 2 RC1400, 4 RC1100, 8 RC1300 */
    int writable, whole, hex, levels; /**< 0 or 1 */
    const char* notification; /**< name for libkorvik_set_callback_changed_<name>, or null */
    const char* help;
} korvik_param_info;

/** What one assignment of libkorvik_apply_params came to. */
typedef struct korvik_param_result {
    double asked, achieved;   /**< numbers (quantities, choices, flags) */
    double difference, ppm;   /**< achieved - asked; ppm of asked for Hz and bit/s (has_ppm) */
    int has_ppm, clamped, rounded;
    char* achieved_text;      /**< the value as text (addresses, texts, choice names); malloc copy */
    char* side_effects;       /**< other parameters this one changed, comma-separated; malloc copy */
} korvik_param_result;

/** Index of the register called name ("FREQ2@0x089" for a name the chip has twice) into *index;
 *  KORVIK_E_NAME when there is none or a bare name is ambiguous (libkorvik_last_error lists the choices). */
KORVIK_API int KORVIK_CALL libkorvik_find_register(korvik_device* dev, const char* name, unsigned* index);
/** The register's name, with "@0x" and its operating address where the name is not unique; malloc copy; error: null. */
KORVIK_API char* KORVIK_CALL libkorvik_get_register_label(korvik_device* dev, unsigned index);
/** Why the last failing call of this thread failed; "" when none. Valid until the thread's next failing call. */
KORVIK_API const char* KORVIK_CALL libkorvik_last_error(void);
/** Number of rows of the parameter table. */
KORVIK_API unsigned KORVIK_CALL libkorvik_param_count(void);
/** Row `index` into *out; error: KORVIK_E_ARGUMENT (index out of range, null out). */
KORVIK_API int KORVIK_CALL libkorvik_param_info(unsigned index, korvik_param_info* out);
/** 1 when the board's chip has the parameter; error or no: 0. */
KORVIK_API int KORVIK_CALL libkorvik_has_param(korvik_device* dev, const char* name);
/** Number of a quantity, choice or flag into *value. */
KORVIK_API int KORVIK_CALL libkorvik_get_param(korvik_device* dev, const char* name, double* value);
/** Value as text (numbers in SI without unit, choices by name) into *text, a malloc copy. */
KORVIK_API int KORVIK_CALL libkorvik_get_param_text(korvik_device* dev, const char* name, char** text);
/** Range, and the step next to the present value (0: none to tell), at the present settings; null pointers are skipped. */
KORVIK_API int KORVIK_CALL libkorvik_get_param_limits(korvik_device* dev, const char* name, double* min, double* max,
                                                      double* step);
/** Names of a choice parameter, in position order, as a string list; error or no choice: null. */
KORVIK_API char** KORVIK_CALL libkorvik_get_param_choices(korvik_device* dev, const char* name);
/** Discrete levels, ascending, as a malloc array of *count doubles into *levels (null and 0 when none). */
KORVIK_API int KORVIK_CALL libkorvik_get_param_levels(korvik_device* dev, const char* name, double** levels,
                                                      unsigned* count);
/** The value the chip would hold if `value` were set now; writes nothing. */
KORVIK_API int KORVIK_CALL libkorvik_get_param_achieved(korvik_device* dev, const char* name, double value,
                                                        double* achieved);
/** Sets the values in order and commits once. values are texts: numbers in SI without unit, choices by name or
 *  position, addresses, texts. Under KORVIK_POLICY_STRICT a value the chip cannot hold refuses the whole
 *  transaction (KORVIK_E_VALUE, nothing written). On KORVIK_OK results (if not null) gets one record per
 *  assignment; release them with libkorvik_free_param_results. */
KORVIK_API int KORVIK_CALL libkorvik_apply_params(korvik_device* dev, unsigned count, const char* const* names,
                                                  const char* const* values, int policy, korvik_param_result* results);
/** As libkorvik_apply_params without the commit: the values wait for libkorvik_commit_registers. */
KORVIK_API int KORVIK_CALL libkorvik_set_params(korvik_device* dev, unsigned count, const char* const* names,
                                                const char* const* values, int policy, korvik_param_result* results);
/** Releases the texts of count results; null: nothing. */
KORVIK_API void KORVIK_CALL libkorvik_free_param_results(korvik_param_result* results, unsigned count);

#ifdef __cplusplus
}
#endif

#endif /* KORVIK_KORVIK_H */
