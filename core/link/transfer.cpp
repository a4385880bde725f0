#include "core/link/transfer.h"

#include <libusb.h>

#include <cstdarg>
#include <cstdio>

#include "core/link/protocol.h"
#include "core/report.h"

// Logs one failure of a primitive.
void Link::failed(const char* format, ...)
{
    char line[LOG_LINE_BYTES];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    printWindow(*reporter_, "%s", line);
}

static const int DRAIN_TIMEOUT_MS = 100;
static const int DRAIN_MAX_PACKETS = 256;  // a whole read64xN and its slack

void Link::attach(libusb_device_handle* handle)
{
    handle_ = handle;
    gone_ = repliesOwed_ = outOfStep_ = false;
}

libusb_device_handle* Link::detach(bool gone)
{
    libusb_device_handle* h = handle_;
    handle_ = nullptr;
    gone_ = gone;
    repliesOwed_ = outOfStep_ = false;
    return h;
}

void Link::usbFailed(int code)
{
    if (code == LIBUSB_ERROR_NO_DEVICE)
        gone_ = true;
    print_libusb_error(code);
}

int Link::bulk(unsigned char endpoint, uint8_t* data, int* transferred)
{
    *transferred = 0;
    // A linker already let go (the window closed under a job) is as gone
    // as an unplugged one; libusb must never see the null handle.
    if (!handle_)
        return LIBUSB_ERROR_NO_DEVICE;
    return libusb_bulk_transfer(handle_, endpoint, data, MSG_LEN, transferred, LINK_TIMEOUT_MS);
}

// A late reply left in the pipe would be taken as the answer to the next
// request, a silently wrong byte; a linker waiting for data would program the
// next command. Bring the link back in step before anything else is sent:
// a reset makes the linker forget a half-received command, and what is still
// owed is thrown away.
void Link::drainOwedReplies()
{
    if (outOfStep_) {
        outOfStep_ = false;
        int r = libusb_reset_device(handle_);
        if (r < 0)
            usbFailed(r);
    }
    if (!repliesOwed_)
        return;
    repliesOwed_ = false;
    uint8_t junk[MSG_LEN];
    int n;
    for (int i = 0; i < DRAIN_MAX_PACKETS; i++) {
        n = 0;
        if (libusb_bulk_transfer(handle_, EP_IN, junk, MSG_LEN, &n, DRAIN_TIMEOUT_MS) < 0)
            break;
    }
}

void Link::inFailed(int code)
{
    if (code != LIBUSB_ERROR_NO_DEVICE)
        repliesOwed_ = true;
    usbFailed(code);
}

// Once libusb has said the linker is gone, nothing brings it back before a
// restart: a transfer fails at once without a word, so one pulled cable is
// one error in the log and not one per remaining byte. Otherwise sends the
// buffer and receives the reply into it: the count received, or -1 after a
// libusb failure (already worded).
int Link::exchange()
{
    if (goneAlready())
        return -1;
    drainOwedReplies();
    int n;
    int r = bulk(EP_OUT, buf_, &n);
    if (r < 0) {
        usbFailed(r);
        return -1;
    }
    r = bulk(EP_IN, buf_, &n);
    if (r < 0) {
        inFailed(r);
        return -1;
    }
    if (n != MSG_LEN)
        repliesOwed_ = true;
    return n;
}

int Link::checkLinker(uint8_t* major, uint8_t* minor)
{
    printWindow(*reporter_, "Checking for the linker and the cart..\n");
    build_getversion_command(buf_);
    int n = exchange();
    if (n < 0)
        return -1;
    if (n != MSG_LEN) {
        failed("check_firmware_version: received %d byted, expected 64", n);
        return -1;
    }
    get_getversion_reply(buf_, major, minor);
    return 0;
}

std::optional<uint8_t> Link::read_byte(uint32_t address, uint8_t chip)
{
    build_read_command(buf_, address, chip);
    int n = exchange();
    if (n < 0)
        return std::nullopt;
    if (n != MSG_LEN) {
        failed("Timeout waiting for reply (addr=0x%X)", address);
        return std::nullopt;
    }
    uint32_t echoed;
    uint8_t value;
    if (!get_read_reply(buf_, &echoed, &value)) {
        failed("read_byte: get_read_reply failure");
        return std::nullopt;
    }
    return value;
}

// The writers share one shape: exchange, then expect a success reply.
bool Link::expectSuccess(const char* name, uint32_t address, bool withAddress)
{
    int n = exchange();
    if (n < 0)
        return false;
    if (n != MSG_LEN) {
        if (withAddress)
            failed("%s: libusb_bulk_transfer fail (addr=0x%X)", name, address);
        else
            failed("%s: libusb_bulk_transfer fail", name);
        return false;
    }
    uint8_t result;
    get_result_reply(buf_, &result);
    if (result != REPLY_SUCCESS) {
        failed("%s: result = 0x%02X", name, result);
        return false;
    }
    return true;
}

bool Link::write_byte(uint32_t address, uint8_t value, uint8_t chip)
{
    build_write_command(buf_, address, value, chip);
    return expectSuccess("write_byte", address, true);
}

bool Link::flash_write_32_bytes(uint32_t address, const uint8_t* source, uint8_t chip, uint8_t turbo)
{
    build_flash_write_32_command(buf_, address, source, chip, turbo);
    return expectSuccess("flash_write_32_bytes", address, true);
}

bool Link::flash_write_N_bytes(uint32_t address, const uint8_t* source, uint8_t chip, uint8_t length,
                               uint8_t turbo)
{
    build_flash_write_N_command(buf_, address, source, chip, length, turbo);
    return expectSuccess("flash_write_N_bytes", address, true);
}

bool Link::build_tetherbox_led(uint8_t value)
{
    build_blink_led_command(buf_, value);
    return expectSuccess("build_tetherbox_led", 0, false);
}

bool Link::read_64xN_bytes(uint8_t* dest, uint32_t address, uint8_t chip, uint8_t count)
{
    if (goneAlready())
        return false;
    drainOwedReplies();
    build_read64xN_command(buf_, address, chip, count);
    int n;
    int r = bulk(EP_OUT, buf_, &n);
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
            repliesOwed_ = true;
            failed("libusb_bulk_transfer fail (addr=0x%X)", address);
            return false;
        }
    }
    return true;
}

// The read64 command is the read64xN command with a count of 1, byte for
// byte; its one packet lands in the message buffer.
const uint8_t* Link::read_64_bytes(uint32_t address, uint8_t chip)
{
    return read_64xN_bytes(buf_, address, chip, 1) ? buf_ : nullptr;
}

bool Link::flash_write_64xN_bytes(uint32_t address, const uint8_t* source, uint8_t chip, uint8_t count,
                                  uint8_t turbo)
{
    if (goneAlready())
        return false;
    drainOwedReplies();
    build_flash_write64xN_command(buf_, address, chip, count, turbo);
    int n;
    int r = bulk(EP_OUT, buf_, &n);
    if (r < 0) {
        usbFailed(r);
        return false;
    }
    bool ok = true;
    for (int k = 0; k < count; k++) {
        build_flash_write64xN_data_packet(buf_, source + 64 * k);
        r = bulk(EP_OUT, buf_, &n);
        if (r < 0) {
            outOfStep_ = r != LIBUSB_ERROR_NO_DEVICE;
            usbFailed(r);
            return false;
        }
        if (n != MSG_LEN) {
            failed("r=%d", n);
            ok = false;
        }
    }
    r = bulk(EP_IN, buf_, &n);
    if (r < 0) {
        inFailed(r);
        return false;
    }
    if (n != MSG_LEN) {
        repliesOwed_ = true;
        failed("flash_write_64xN_bytes: libusb_bulk_transfer ENDPOINT_BULK_IN fail (addr=0x%X)", address);
        return false;
    }
    uint8_t result, processed;
    get_flash_write64xN_reply(buf_, &result, &processed);
    if (result != REPLY_FLASH_WRITE64XN) {
        failed("flash_write_64xN_bytes: result = 0x%02X", result);
        ok = false;
    }
    if (processed != count) {
        failed("flash_write_64xN_bytes: processed %d packets, but sent %d", processed, count);
        ok = false;
    }
    return ok;
}

void Link::print_libusb_error(int code)
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
    printWindow(*reporter_, "");
    if (code == LIBUSB_ERROR_OTHER) {
        printWindow(*reporter_, "Error: LIBUSB_ERROR_OTHER\nOther error.");
        return;
    }
    for (const auto& e : table) {
        if (e.code == code) {
            printWindow(*reporter_, "%s", e.name);
            printWindow(*reporter_, "%s", e.text);
            return;
        }
    }
    printWindow(*reporter_, "Error: unkown error.");
}
