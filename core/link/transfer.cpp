#include "core/link/transfer.h"

#include <libusb.h>

#include <cstdarg>
#include <cstdio>

#include "core/link/linker.h"
#include "core/link/protocol.h"
#include "core/report.h"

libusb_context* g_ctx = nullptr;
libusb_device_handle* devh = nullptr;
uint8_t G_buf[64];
unsigned g_linkFailures = 0;
static bool g_gone = false;

bool linkGone()
{
    return g_gone;
}

// Logs one failure of a primitive; the count lets jobs see it afterwards.
static void failed(const char* format, ...) __attribute__((format(printf, 1, 2)));
static void failed(const char* format, ...)
{
    char line[LOG_LINE_BYTES];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    printWindow("%s", line);
    g_linkFailures++;
}

static void usbFailed(int code)
{
    if (code == LIBUSB_ERROR_NO_DEVICE)
        g_gone = true;
    print_libusb_error(code);
    g_linkFailures++;
}

// Set when a reply or data packet the linker owes us may still come: after a
// receive timed out or came short, or a multi-packet read stopped early.
static bool g_repliesOwed = false;
static const int DRAIN_TIMEOUT_MS = 100;
static const int DRAIN_MAX_PACKETS = 256;  // a whole read64xN and its slack

static int bulk(unsigned char endpoint, uint8_t* data, int* transferred)
{
    *transferred = 0;
    // A linker already let go (the window closed under a job) is as gone
    // as an unplugged one; libusb must never see the null handle.
    if (!devh)
        return LIBUSB_ERROR_NO_DEVICE;
    return libusb_bulk_transfer(devh, endpoint, data, MSG_LEN, transferred, LINK_TIMEOUT_MS);
}

// Once libusb has said the linker is gone, nothing brings it back before a
// restart: a transfer fails at once, counted but not worded again, so one
// pulled cable is one error in the log and not one per remaining byte.
static bool goneAlready()
{
    if (!g_gone)
        return false;
    g_linkFailures++;
    return true;
}

// Set when a flash_write64xN's data packets were cut short: the linker is
// still waiting for them and would take the next command for data, and
// program it into the cartridge.
static bool g_outOfStep = false;

// A late reply left in the pipe would be taken as the answer to the next
// request, a silently wrong byte; a linker waiting for data would program the
// next command. Bring the link back in step before anything else is sent:
// a reset makes the linker forget a half-received command, and what is still
// owed is thrown away.
static void drainOwedReplies()
{
    if (g_outOfStep) {
        g_outOfStep = false;
        int r = libusb_reset_device(devh);
        if (r < 0)
            usbFailed(r);
    }
    if (!g_repliesOwed)
        return;
    g_repliesOwed = false;
    uint8_t junk[MSG_LEN];
    int n;
    for (int i = 0; i < DRAIN_MAX_PACKETS; i++) {
        n = 0;
        if (libusb_bulk_transfer(devh, EP_IN, junk, MSG_LEN, &n, DRAIN_TIMEOUT_MS) < 0)
            break;
    }
}

static void inFailed(int code)
{
    if (code != LIBUSB_ERROR_NO_DEVICE)
        g_repliesOwed = true;
    usbFailed(code);
}

// Sends G_buf and receives the reply into it. Returns the count received, or
// -1 after a libusb failure (already worded).
static int exchange()
{
    if (goneAlready())
        return -1;
    drainOwedReplies();
    int n;
    int r = bulk(EP_OUT, G_buf, &n);
    if (r < 0) {
        usbFailed(r);
        return -1;
    }
    r = bulk(EP_IN, G_buf, &n);
    if (r < 0) {
        inFailed(r);
        return -1;
    }
    if (n != MSG_LEN)
        g_repliesOwed = true;
    return n;
}

int checkLinker(uint8_t* major, uint8_t* minor)
{
    printWindow("Checking for the linker and the cart..\n");
    build_getversion_command(G_buf);
    int n = exchange();
    if (n < 0)
        return -1;
    if (n != MSG_LEN) {
        failed("check_firmware_version: received %d byted, expected 64", n);
        return -1;
    }
    get_getversion_reply(G_buf, major, minor);
    return 0;
}

uint8_t read_byte(uint32_t address, uint8_t chip)
{
    build_read_command(G_buf, address, chip);
    int n = exchange();
    if (n < 0)
        return 0;
    if (n != MSG_LEN) {
        failed("Timeout waiting for reply (addr=0x%X)", address);
        return 0;
    }
    uint32_t echoed;
    uint8_t value;
    if (!get_read_reply(G_buf, &echoed, &value)) {
        failed("read_byte: get_read_reply failure");
        return 0;
    }
    return value;
}

// The writers share one shape: exchange, then expect a success reply.
static void expect_success(const char* name, uint32_t address, bool withAddress)
{
    int n = exchange();
    if (n < 0)
        return;
    if (n != MSG_LEN) {
        if (withAddress)
            failed("%s: libusb_bulk_transfer fail (addr=0x%X)", name, address);
        else
            failed("%s: libusb_bulk_transfer fail", name);
        return;
    }
    uint8_t result;
    get_result_reply(G_buf, &result);
    if (result != REPLY_SUCCESS)
        failed("%s: result = 0x%02X", name, result);
}

void write_byte(uint32_t address, uint8_t value, uint8_t chip)
{
    build_write_command(G_buf, address, value, chip);
    expect_success("write_byte", address, true);
}

bool write_byte_checked(uint32_t address, uint8_t value, uint8_t chip)
{
    unsigned failures = g_linkFailures;
    write_byte(address, value, chip);
    return g_linkFailures == failures;
}

void flash_write_32_bytes(uint32_t address, const uint8_t* source, uint8_t chip, uint8_t turbo)
{
    build_flash_write_32_command(G_buf, address, source, chip, turbo);
    expect_success("flash_write_32_bytes", address, true);
}

void flash_write_N_bytes(uint32_t address, const uint8_t* source, uint8_t chip, uint8_t length,
                         uint8_t turbo)
{
    build_flash_write_N_command(G_buf, address, source, chip, length, turbo);
    expect_success("flash_write_N_bytes", address, true);
}

void build_tetherbox_led(uint8_t value)
{
    build_blink_led_command(G_buf, value);
    expect_success("build_tetherbox_led", 0, false);
}

bool read_64xN_bytes(uint8_t* dest, uint32_t address, uint8_t chip, uint8_t count)
{
    if (goneAlready())
        return false;
    drainOwedReplies();
    build_read64xN_command(G_buf, address, chip, count);
    int n;
    int r = bulk(EP_OUT, G_buf, &n);
    if (r < 0) {
        usbFailed(r);
        return false;
    }
    for (int k = 0; k < count; k++) {
        r = bulk(EP_IN, dest + 64 * k, &n);
        if (r < 0) {
            inFailed(r);
            return false;
        }
        if (n != MSG_LEN) {
            g_repliesOwed = true;
            failed("libusb_bulk_transfer fail (addr=0x%X)", address);
            return false;
        }
    }
    return true;
}

// The read64 command is the read64xN command with a count of 1, byte for
// byte; its one packet lands in G_buf.
uint8_t* read_64_bytes(uint32_t address, uint8_t chip)
{
    return read_64xN_bytes(G_buf, address, chip, 1) ? G_buf : nullptr;
}

void flash_write_64xN_bytes(uint32_t address, const uint8_t* source, uint8_t chip, uint8_t count,
                            uint8_t turbo)
{
    if (goneAlready())
        return;
    drainOwedReplies();
    build_flash_write64xN_command(G_buf, address, chip, count, turbo);
    int n;
    int r = bulk(EP_OUT, G_buf, &n);
    if (r < 0) {
        usbFailed(r);
        return;
    }
    for (int k = 0; k < count; k++) {
        build_flash_write64xN_data_packet(G_buf, source + 64 * k);
        r = bulk(EP_OUT, G_buf, &n);
        if (r < 0) {
            g_outOfStep = r != LIBUSB_ERROR_NO_DEVICE;
            usbFailed(r);
            return;
        }
        if (n != MSG_LEN)
            failed("r=%d", n);
    }
    r = bulk(EP_IN, G_buf, &n);
    if (r < 0) {
        inFailed(r);
        return;
    }
    if (n != MSG_LEN) {
        g_repliesOwed = true;
        failed("flash_write_64xN_bytes: libusb_bulk_transfer ENDPOINT_BULK_IN fail (addr=0x%X)",
                    address);
        return;
    }
    uint8_t result, processed;
    get_flash_write64xN_reply(G_buf, &result, &processed);
    if (result != REPLY_FLASH_WRITE64XN)
        failed("flash_write_64xN_bytes: result = 0x%02X", result);
    if (processed != count)
        failed("flash_write_64xN_bytes: processed %d packets, but sent %d", processed, count);
}

void print_libusb_error(int code)
{
    static const struct {
        int code;
        const char* name;
        const char* text;
    } table[] = {
        {LIBUSB_ERROR_IO, "Error: LIBUSB_ERROR_IO", "Input/output error."},
        {LIBUSB_ERROR_INVALID_PARAM, "Error: LIBUSB_ERROR_INVALID_PARAM", "Invalid parameter."},
        {LIBUSB_ERROR_ACCESS, "Error: LIBUSB_ERROR_ACCESS", "Access denied (insufficient permissions)."},
        {LIBUSB_ERROR_NO_DEVICE, "Error: LIBUSB_ERROR_NO_DEVICE",
         "No such device (it may have been disconnected)."},
        {LIBUSB_ERROR_NOT_FOUND, "Error: LIBUSB_ERROR_NOT_FOUND", "Entity not found."},
        {LIBUSB_ERROR_BUSY, "Error: LIBUSB_ERROR_BUSY", "Resource busy."},
        {LIBUSB_ERROR_TIMEOUT, "Error: LIBUSB_ERROR_TIMEOUT", "Operation timed out."},
        {LIBUSB_ERROR_OVERFLOW, "Error: LIBUSB_ERROR_OVERFLOW", "Overflow."},
        {LIBUSB_ERROR_PIPE, "Error: LIBUSB_ERROR_PIPE", "Pipe error."},
        {LIBUSB_ERROR_INTERRUPTED, "Error:LIBUSB_ERROR_INTERRUPTED",
         "System call interrupted (perhaps due to signal)."},
        {LIBUSB_ERROR_NO_MEM, "Error: LIBUSB_ERROR_NO_MEM", "Insufficient memory."},
        {LIBUSB_ERROR_NOT_SUPPORTED, "Error: LIBUSB_ERROR_NOT_SUPPORTED",
         "Operation not supported or unimplemented on this platform."},
    };
    printWindow("");
    if (code == LIBUSB_ERROR_OTHER) {
        printWindow("Error: LIBUSB_ERROR_OTHER\nOther error.");
        return;
    }
    for (const auto& e : table) {
        if (e.code == code) {
            printWindow("%s", e.name);
            printWindow("%s", e.text);
            return;
        }
    }
    printWindow("Error: unkown error.");
}

void resetTransfers(bool gone)
{
    g_gone = gone;
    g_repliesOwed = false;
    g_outOfStep = false;
}

bool openLink()
{
    return linker().open(false) == LinkState::Ready;
}

void closeLink()
{
    linker().close();
}
