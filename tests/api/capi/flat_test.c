/* A C caller of libkorvik-0: simulated boards through the flat interface,
 * callbacks, error values and ownership of returned memory. Every string and
 * list received is released, so the leak checker sees a clean run. */

#include <korvik/korvik.h>

#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failures = 0;

#define CHECK(cond)                                                        \
    do {                                                                   \
        if (!(cond)) {                                                     \
            fprintf(stderr, "%s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                    \
        }                                                                  \
    } while (0)

/* compares a returned string and releases it */
static int take_string(char* s, const char* expected)
{
    int same = s != NULL && strcmp(s, expected) == 0;
    if (s && !same)
        fprintf(stderr, "  got \"%s\", expected \"%s\"\n", s, expected);
    free(s);
    return same;
}

static size_t take_list(char** list)
{
    size_t n = 0;
    if (!list)
        return 0;
    while (list[n])
        ++n;
    libkorvik_free_stringlist(list);
    return n;
}

/* ---- callback recorders ---- */

struct seen {
    int calls;
    char last[64];
};

static void on_serial(const char* serial, void* user)
{
    struct seen* s = (struct seen*)user;
    ++s->calls;
    strncpy(s->last, serial, sizeof s->last - 1);
}

static void on_iface(const char* interface, const char* serial, void* user)
{
    struct seen* s = (struct seen*)user;
    (void)serial;
    ++s->calls;
    strncpy(s->last, interface, sizeof s->last - 1);
}

static void on_changed(void* user)
{
    ++*(int*)user;
}

/* closes its own handle from inside the callback */
static korvik_device* closing_target = NULL;
static void close_from_callback(void* user)
{
    ++*(int*)user;
    libkorvik_close(closing_target);
}

/* replaces itself with on_changed from inside the callback */
struct replacer {
    korvik_device* dev;
    int calls;
    int other_calls;
};
static void replace_self(void* user)
{
    struct replacer* r = (struct replacer*)user;
    ++r->calls;
    libkorvik_set_callback_changed_nv_serial(r->dev, on_changed, &r->other_calls);
}

/* ---- groups of checks ---- */

static void library_wide_functions(void)
{
    char** chips;
    const char* version = libkorvik_get_version();
    unsigned count = 77;
    int timeout = 12345;
    void** handles;

    CHECK(version != NULL && strcmp(version, "V1.4") == 0);

    chips = libkorvik_get_supported_chips();
    CHECK(chips != NULL);
    if (chips) {
        CHECK(chips[0] && strcmp(chips[0], "RC1200") == 0);
        CHECK(chips[3] && strcmp(chips[3], "RC1300") == 0);
        CHECK(chips[4] == NULL);
    }
    CHECK(take_list(chips) == 4);
    libkorvik_free_stringlist(NULL);

    /* without a count the timeout is still stored and nothing is returned */
    handles = libkorvik_get_poll_handles(NULL, &timeout);
    CHECK(handles == NULL);
    CHECK(timeout != 12345);
    handles = libkorvik_get_poll_handles(&count, NULL);
    CHECK(count != 77);
    CHECK((count == 0) == (handles == NULL));
    free(handles);

    libkorvik_periodic();
    libkorvik_rescan_devices();
}

static void null_arguments(void)
{
    double currents[10];
    int i;
    unsigned char mac[6] = {1, 2, 3, 4, 5, 6};

    CHECK(libkorvik_open(NULL) == NULL);
    CHECK(libkorvik_open_iface(NULL) == NULL);
    CHECK(libkorvik_open("no such serial") == NULL);
    CHECK(libkorvik_open_iface("no-such-iface") == NULL);
    libkorvik_close(NULL);

    /* documented error values for a null handle */
    CHECK(libkorvik_is_dead(NULL) == 1);
    CHECK(libkorvik_get_agcreference(NULL) == INT_MIN);
    CHECK(libkorvik_get_txkeyup(NULL) == 0x55);
    CHECK(isnan(libkorvik_get_rx_carrierfrequency(NULL)));
    CHECK(isnan(libkorvik_get_chacc_slottime(NULL)));
    CHECK(libkorvik_get_xtal_tolerance(NULL) == 0.0);
    CHECK(libkorvik_convert_frequencyoffset(NULL, 100) == 0.0);
    CHECK(libkorvik_get_serial(NULL) == NULL);
    CHECK(libkorvik_get_ethernet_mac(NULL) == NULL);
    CHECK(libkorvik_get_supported_modulations(NULL) == NULL);
    CHECK(libkorvik_get_registers(NULL) == 0);
    CHECK(libkorvik_is_net_up(NULL) == 0);

    /* a failed currents call marks the first five values only */
    for (i = 0; i < 10; ++i)
        currents[i] = 1.0;
    libkorvik_get_currents(NULL, currents);
    for (i = 0; i < 5; ++i)
        CHECK(isnan(currents[i]));
    for (i = 5; i < 10; ++i)
        CHECK(currents[i] == 1.0);

    /* setters and callbacks on a null handle do nothing */
    libkorvik_set_nv_ethmac(NULL, mac);
    libkorvik_set_tx_carrierfrequency(NULL, 868e6);
    libkorvik_set_callback_changed_nv_serial(NULL, on_changed, NULL);
}

static void open_simulation_rejects_null_arguments(void)
{
    struct seen boards = {0, ""};
    korvik_device* dev;

    CHECK(libkorvik_open_simulation(NULL, "name", "RC1200", "001122334455") == NULL);
    CHECK(libkorvik_open_simulation("1000001", NULL, "RC1200", "001122334455") == NULL);
    CHECK(libkorvik_open_simulation("1000001", "name", NULL, "001122334455") == NULL);
    CHECK(libkorvik_open_simulation("1000001", "name", "RC1200", NULL) == NULL);
    CHECK(libkorvik_open("1000001") == NULL);

    /* the rejected calls registered nothing and used up no board number */
    libkorvik_set_callback_device_connect(on_serial, &boards);
    CHECK(boards.calls == 0);
    libkorvik_set_callback_device_connect(NULL, NULL);
    dev = libkorvik_open_simulation("1000001", "name", "RC1200", "001122334455");
    CHECK(dev != NULL);
    CHECK(take_string(libkorvik_get_interface(dev), "sim0"));
    libkorvik_close(dev);
    /* closing the last handle of a simulated board frees its serial */
    CHECK(libkorvik_open("1000001") == NULL);

    /* an unknown chip is an error inside the library, answered with null */
    CHECK(libkorvik_open_simulation("1000002", "bad", "XY1200", "001122334455") == NULL);
    CHECK(libkorvik_open("1000002") == NULL);
}

static void parameters_round_trip(korvik_device* dev)
{
    const unsigned char addr[6] = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60};
    unsigned char out[6] = {0};
    const unsigned char* mac;
    double currents[10];
    unsigned n, i;

    CHECK(take_string(libkorvik_get_serial(dev), "4711001"));
    CHECK(take_string(libkorvik_get_display_name(dev), "Bench board"));
    CHECK(take_string(libkorvik_get_chip_name(dev), "RC1200"));
    CHECK(take_string(libkorvik_get_interface(dev), "sim2"));
    mac = libkorvik_get_ethernet_mac(dev);
    CHECK(mac != NULL && mac[0] == 0x02 && mac[5] == 0xA5);
    CHECK(libkorvik_is_dead(dev) == 0);
    CHECK(libkorvik_get_boardflags(dev) == 1);

    libkorvik_set_nv_serial(dev, "7654321");
    CHECK(take_string(libkorvik_get_nv_serial(dev), "7654321"));
    libkorvik_set_nv_serial(dev, NULL);
    CHECK(take_string(libkorvik_get_nv_serial(dev), "7654321"));

    libkorvik_set_tx_carrierfrequency(dev, 868.3e6);
    libkorvik_commit_registers(dev);
    CHECK(fabs(libkorvik_get_tx_carrierfrequency(dev) - 868.3e6) < 1000.0);
    libkorvik_set_rx_carrierfrequency(dev, 433.92e6);
    libkorvik_commit_registers(dev);
    CHECK(fabs(libkorvik_get_rx_carrierfrequency(dev) - 433.92e6) < 1000.0);

    libkorvik_set_enc_manchester(dev, 1);
    CHECK(libkorvik_get_enc_manchester(dev) == 1);
    libkorvik_set_enc_manchester(dev, 0);
    CHECK(libkorvik_get_enc_manchester(dev) == 0);

    libkorvik_set_chacc_addr1(dev, addr);
    libkorvik_get_chacc_addr1(dev, out);
    CHECK(memcmp(addr, out, 6) == 0);
    libkorvik_set_chacc_addr1(dev, NULL);
    libkorvik_get_chacc_addr1(dev, NULL);
    libkorvik_set_chacc_addrmatch1(dev, 1);
    CHECK(libkorvik_get_chacc_addrmatch1(dev) == 1);

    /* register table: names are copies, an index past the end reads 0 */
    n = libkorvik_get_registers(dev);
    CHECK(n > 0);
    for (i = 0; i < n; ++i) {
        char* name = libkorvik_get_register_name(dev, i);
        CHECK(name != NULL && name[0] != '\0');
        free(name);
    }
    CHECK(libkorvik_get_register_chipvalue(dev, n) == 0);
    CHECK(libkorvik_get_register_mask(dev, n) == 0);
    libkorvik_set_register_chipvalue(dev, n, 0x5A);
    CHECK(libkorvik_get_register_chipvalue(dev, n) == 0);
    libkorvik_set_register_chipvalue(dev, 0, (unsigned char)libkorvik_get_register_mask(dev, 0));
    CHECK(libkorvik_get_register_chipvalue(dev, 0) <= 0xFF);

    n = libkorvik_get_bitfields(dev);
    for (i = 0; i < n && i < 8; ++i) {
        free(libkorvik_get_bitfield_name(dev, i));
        free(libkorvik_get_bitfield_description(dev, i));
        free(libkorvik_get_bitfield_tooltip(dev, i));
    }

    CHECK(take_list(libkorvik_get_supported_modulations(dev)) > 0);
    CHECK(take_list(libkorvik_get_supported_framingmodes(dev)) > 0);
    CHECK(take_list(libkorvik_get_supported_crcmodes(dev)) > 0);
    CHECK(take_list(libkorvik_get_supported_rx_btr_settings(dev)) > 0);
    CHECK(take_list(libkorvik_get_chacc_supported_channelaccessmodes(dev)) > 0);

    libkorvik_get_currents(dev, NULL);
    libkorvik_get_currents(dev, currents);

    /* a simulated board cannot send: the library's error stays inside */
    libkorvik_send_packet(dev, addr, sizeof addr, addr);
    libkorvik_send_bpq_packet(dev, NULL, 4, addr);
    CHECK(libkorvik_get_tx_pkt_count(dev) == 0);
}

static void callbacks(korvik_device* dev)
{
    struct seen by_serial = {0, ""};
    struct seen by_iface = {0, ""};
    int nv_calls = 0, freq_calls = 0;
    struct replacer r;

    /* a new connect subscriber hears about every present board at once (the closed simulations are gone) */
    libkorvik_set_callback_device_connect(on_serial, &by_serial);
    CHECK(by_serial.calls == 1 && strcmp(by_serial.last, "4711001") == 0);
    libkorvik_set_callback_device_iface_connect(on_iface, &by_iface);
    CHECK(by_iface.calls == 1 && strcmp(by_iface.last, "sim2") == 0);
    libkorvik_set_callback_device_connect(NULL, NULL);
    libkorvik_set_callback_device_iface_connect(NULL, NULL);
    libkorvik_set_callback_device_disconnect(on_serial, &by_serial);
    libkorvik_set_callback_device_disconnect(NULL, NULL);
    libkorvik_set_callback_device_iface_disconnect(on_iface, &by_iface);
    libkorvik_set_callback_device_iface_disconnect(NULL, NULL);

    /* board-side change */
    libkorvik_set_callback_changed_nv_serial(dev, on_changed, &nv_calls);
    libkorvik_set_nv_serial(dev, "1111111");
    CHECK(nv_calls == 1);
    libkorvik_set_callback_changed_nv_serial(dev, NULL, NULL);
    libkorvik_set_nv_serial(dev, "2222222");
    CHECK(nv_calls == 1);

    /* model-side change, seen after the commit */
    libkorvik_set_callback_changed_tx_carrierfrequency(dev, on_changed, &freq_calls);
    libkorvik_set_tx_carrierfrequency(dev, 869.5e6);
    libkorvik_commit_registers(dev);
    CHECK(freq_calls >= 1);
    freq_calls = 0;
    libkorvik_set_callback_changed_tx_carrierfrequency(dev, NULL, NULL);
    libkorvik_set_tx_carrierfrequency(dev, 868.0e6);
    libkorvik_commit_registers(dev);
    CHECK(freq_calls == 0);

    /* a callback may replace itself; the replacement hears the next change only */
    r.dev = dev;
    r.calls = 0;
    r.other_calls = 0;
    libkorvik_set_callback_changed_nv_serial(dev, replace_self, &r);
    libkorvik_set_nv_serial(dev, "3333333");
    CHECK(r.calls == 1 && r.other_calls == 0);
    libkorvik_set_nv_serial(dev, "4444444");
    CHECK(r.calls == 1 && r.other_calls == 1);
    libkorvik_set_callback_changed_nv_serial(dev, NULL, NULL);
}

static void close_stops_callbacks(void)
{
    int calls = 0;
    korvik_device* third;
    korvik_device* first = libkorvik_open_simulation("4711001", "ignored", "RC1400", "000000000001");
    korvik_device* second = libkorvik_open("4711001");
    CHECK(first != NULL && second != NULL);
    if (!first || !second)
        return;

    /* the second handle's callback outlives the first handle */
    libkorvik_set_callback_changed_nv_serial(first, on_changed, &calls);
    libkorvik_close(first);
    libkorvik_set_nv_serial(second, "5555555");
    CHECK(calls == 0);
    CHECK(take_string(libkorvik_get_chip_name(second), "RC1200"));

    /* closing from inside its own callback is deferred, then completed by the loop */
    closing_target = second;
    libkorvik_set_callback_changed_nv_serial(second, close_from_callback, &calls);
    libkorvik_set_nv_serial(second, "6666666");
    CHECK(calls == 1);
    CHECK(libkorvik_is_dead(second) == 1); /* closed: error value */
    third = libkorvik_open("4711001");
    libkorvik_set_nv_serial(third, "7777777");
    CHECK(calls == 1);
    libkorvik_close(third);
    libkorvik_periodic();
    closing_target = NULL;
}

static void on_diagnostic(const char* line, void* user)
{
    struct seen* s = (struct seen*)user;
    ++s->calls;
    /* lines come without their newline */
    CHECK(strchr(line, '\n') == NULL);
    if (strcmp(line, "USBDevice::USBDevice start") == 0)
        snprintf(s->last, sizeof s->last, "%s", line);
}

static void diagnostic_sink(void)
{
    struct seen s = {0, ""};
    korvik_device* dev;
    int calls;

    libkorvik_set_diagnostic_sink(on_diagnostic, &s);
    dev = libkorvik_open_simulation("4711009", "Sink board", "RC1200", "0200000000A6");
    CHECK(dev != NULL);
    CHECK(s.calls > 0);
    CHECK(strcmp(s.last, "USBDevice::USBDevice start") == 0);

    /* back on standard error: the sink hears nothing more */
    libkorvik_set_diagnostic_sink(NULL, &s);
    calls = s.calls;
    libkorvik_close(dev);
    CHECK(s.calls == calls);
}

int main(void)
{
    korvik_device* dev;

    library_wide_functions();
    null_arguments();
    open_simulation_rejects_null_arguments();

    dev = libkorvik_open_simulation("4711001", "Bench board", "RC1200", "0200000000A5");
    CHECK(dev != NULL);
    if (dev) {
        parameters_round_trip(dev);
        callbacks(dev);
        /* while dev stays open, opening its serial again finds the same board */
        close_stops_callbacks();
        libkorvik_close(dev);
    }
    diagnostic_sink();

    if (failures)
        fprintf(stderr, "%d check(s) failed\n", failures);
    else
        fprintf(stderr, "all checks passed\n");
    return failures ? 1 : 0;
}
