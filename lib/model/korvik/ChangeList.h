#ifndef KORVIK_CHANGELIST_H
#define KORVIK_CHANGELIST_H

/*
 * The value-less change notifications of a device, as X-macro lists: each
 * list calls X(name) once per notification, in this order. A device emits
 * "changed_<name>" when the value behind get_<name>() (or its family) may
 * have changed; USBDevice::notify_changed_<name>() and
 * libkorvik_set_callback_changed_<name>() subscribe to it.
 *
 * Plain preprocessor lists, includable from C and C++ without any other
 * header: the public headers declare both subscriptions from them, so a
 * notification added here needs no declaration elsewhere, and code generating
 * per-notification plumbing (relays, bindings) stays in step with the library.
 * Entries are only ever added: programs link against the released ones.
 */

/* Kept by the board: NV identity, channel access, carrier, counters. */
#define KORVIK_BOARD_CHANGES(X) \
    X(nv_ethmac)                \
    X(nv_radio_ethmac)          \
    X(nv_serial)                \
    X(chacc_channelaccessmode)  \
    X(chacc_ppersistence)       \
    X(chacc_slottime)           \
    X(chacc_rssithreshold)      \
    X(chacc_bgndthreshold)      \
    X(chacc_preamble)           \
    X(chacc_addrmatch1)         \
    X(chacc_addrmatch2)         \
    X(chacc_addrlength)         \
    X(chacc_addr1)              \
    X(chacc_addr2)              \
    X(transmit_cw)              \
    X(packetcounters)

/* Kept by the chip model: crystal, air parameters, framing; a device without
 * a chip model never emits these. */
#define KORVIK_CHIP_CHANGES(X) \
    X(xtal_frequency)          \
    X(xtal_tolerance)          \
    X(rx_modulation)           \
    X(tx_modulation)           \
    X(rx_carrierfrequency)     \
    X(tx_carrierfrequency)     \
    X(rx_bandwidth)            \
    X(tx_deviation)            \
    X(rx_bitrate)              \
    X(tx_bitrate)              \
    X(rx_btr)                  \
    X(tx_power)                \
    X(iffrequency)             \
    X(framingmode)             \
    X(enc_invert)              \
    X(enc_diff)                \
    X(enc_scrambler)           \
    X(enc_manchester)          \
    X(crcmode)                 \
    X(crcinit)                 \
    X(preamble)                \
    X(preamble_length)

/* Every value-less change notification: the board's, then the chip's. */
#define KORVIK_CHANGES(X)   \
    KORVIK_BOARD_CHANGES(X) \
    KORVIK_CHIP_CHANGES(X)

#endif
