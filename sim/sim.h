// The simulated Tetherbox, as tests and transports see it.
//
// A test reads like a conversation with the device:
//
//     sim::reset();                       // fresh linker, firmware 0.13, "official16"
//     sim::insertCart("cindercart");
//     sim::setEraseTimes(0.001, 0.002);   // erases finish after a few polls
//     sim::Mark m = sim::mark();
//     ... the program does its work through libusb ...
//     EXPECT_EQ(sim::hostWritesSince(m).size(), 6u);
//     EXPECT_EQ(sim::chip(0).peek(0x1FA000), 0xFF);
//
// The model (firmware, bus, chips, clock) is independent of the transport:
// the libusb stand-in and any other transport only call hostSends(),
// devicePacketPending() and deviceNext(), and ask beginTransfer() which
// injected fault applies to each transfer.
#pragma once

#include "clock.h"
#include "flash_chip.h"
#include "trace.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// ---- The device --------------------------------------------------------

// A fresh device: firmware 0.13, cartridge "official16", no faults, clock at
// 0, default costs, pacing off, traces and counters cleared, no state file.
// Marks the simulator as configured, so libusb_init leaves the environment
// alone.
void reset();

// Whether reset() or configureFromEnvironment() has run in this process.
bool configured();
// Makes the next libusb_init read the environment again, as a fresh process
// would (for tests of the demo's configuration).
void readEnvironmentAtNextInit();

// Reads PTB_SIM_CART, PTB_SIM_FIRMWARE, PTB_SIM_FAULT, PTB_SIM_PLUG,
// PTB_SIM_STATE and PTB_SIM_PACE (see sim/README.md) after a reset(). Returns false and leaves
// a message in `error` if any of them is malformed; the valid ones still apply.
bool configureFromEnvironment(std::string* error = nullptr);

// Plugs in the named cartridge (fresh contents); false for an unknown name,
// which leaves the linker empty.
bool insertCart(const std::string& name);
std::string cartName();
std::vector<std::string> cartNames();

void setFirmware(int major, int minor);
uint8_t ledSetting();

// ---- The cable -------------------------------------------------------------

// The linker is plugged in from reset() on. Unplugging drops whatever the
// firmware had half done; plugging in gives it a new USB address, as the
// host's enumeration would, with the cartridge and its contents as they were.
void unplugNow();
void plugInNow();
// At that modelled time (seconds on the simulator's clock): in or out.
void plugAt(double seconds, bool in);
// Whether the cable is in now, after what is due by the clock and the
// transfer count (unplugAfterTransfers) has happened.
bool pluggedIn();
// The address the linker got when it was last plugged in.
int usbAddress();
// Modelled time of the next planned plug or unplug; infinity if none.
double nextPlugEvent();

// What the transport has not yet told the host about, oldest first.
struct PlugChange {
    bool in;
    int address;
};
std::vector<PlugChange> takePlugChanges();
// Called (from whichever call noticed it) whenever a plug change is queued.
void onPlugChange(void (*notify)());

// Whether the host's libusb can tell it of arrivals and departures, and
// whether registering for them works (both default to yes).
void offerHotplug(bool offered);
bool hotplugOffered();
void failHotplugRegistration(bool fails);
bool hotplugRegistrationFails();

// ---- Faults (each one line in a test) ------------------------------------

// Counted from the moment the fault is set: n = 1 is the next transfer, in
// either direction.
void noDevice();                               // open_device_with_vid_pid finds nothing
// The linker plugged in now (the next one, while none is) may not be opened
// by this user: its node's permissions, until it is plugged in again.
void denyAccess();
// e.g. LIBUSB_ERROR_BUSY; `times` calls from now fail (negative: every one),
// as a linker just plugged in may while the kernel binds it.
void failSetConfiguration(int code, int times = -1);
void failClaimInterface(int code, int times = -1);
void failDeviceList(int code);                 // the host cannot list the bus (e.g. LIBUSB_ERROR_NO_MEM)
void timeoutOnTransfer(int n);                 // moves nothing; an IN packet stays queued
void shortPacketOnTransfer(int n, int length = 32);
void wrongCodeOnTransfer(int n, uint8_t code = 0xEE);  // on an OUT transfer: the next IN one
void unplugAfterTransfers(int n);              // LIBUSB_ERROR_NO_DEVICE from transfer n + 1 on
void chipIgnoresErase(int chip);               // erase commands do nothing
void chipEraseNeverEnds(int chip);             // status toggles forever
void byteNeverPrograms(int chip, uint32_t chipAddress);
// Dirty contacts, by cartridge address: the nth read of the byte from now
// (n = 1: the next) comes back wrong, once; or every read comes back wrong,
// never the same twice.
void misreadOnce(uint32_t cartAddress, int nth = 1);
void neverReadsTrue(uint32_t cartAddress);
void clearFaults();

// Applies plug events written as PTB_SIM_PLUG spells them, e.g.
// "in@5" or "out@10,in@12"; false with a message for a malformed one.
bool applyPlugEvents(const std::string& list, std::string* error = nullptr);

// Applies faults written as PTB_SIM_FAULT spells them, e.g.
// "timeout@5,noerase:1"; false with a message for a malformed one.
bool applyFaults(const std::string& list, std::string* error = nullptr);

// ---- The cartridge -------------------------------------------------------

// Chip position 0 or 1 (an empty position has present() false).
FlashChip& chip(int position);

// By cartridge address: chip 1 from 0x200000 on, as the program numbers them.
uint8_t cartPeek(uint32_t cartAddress);
void cartPoke(uint32_t cartAddress, uint8_t value);
// The whole cartridge as the program would back it up: chip 0 alone, or,
// with two chips, chip 0 up to 0x200000 then chip 1.
std::vector<uint8_t> cartImage();
// Writes an image into the chips directly (no command cycles, no clock).
void loadImage(const std::vector<uint8_t>& image);

// ---- Time ----------------------------------------------------------------

// clockSeconds(), advanceClock(), costs(), setPacing() are in clock.h.
// Erase durations: `block` for one block, `chip16` for a whole 16 Mbit chip.
void setEraseTimes(double block, double chip16);

// ---- Observation ---------------------------------------------------------

Mark mark();
std::vector<Transfer> transfersSince(Mark m);
std::vector<BusCycle> busCyclesSince(Mark m);
std::vector<BusCycle> busWritesSince(Mark m);
// Raw single-byte writes the host asked for (write commands), in order.
std::vector<BusCycle> hostWritesSince(Mark m);
Counters counters();
// IN packets the firmware has queued and the host has not read.
size_t pendingPackets();
// Traces keep the newest entries only (a full flash runs to tens of
// millions of bus cycles); true if anything since `m` has been dropped.
bool traceTruncatedSince(Mark m);
void setTraceLimit(size_t entries);

// ---- State file ------------------------------------------------------------

// The cartridge's identity, protection and contents; true on success.
bool saveState(const std::string& path);
bool loadState(const std::string& path);
// The state file kept between runs (PTB_SIM_STATE); saved on close and exit.
void setStateFile(const std::string& path);
std::string stateFile();
void saveStateIfChanged();

// ---- Transport side --------------------------------------------------------

// One OUT packet from the host to endpoint 0x02.
void hostSends(const uint8_t* data, int length);
bool devicePacketPending();
// Takes the next IN packet into out64; returns its length (64, or fewer if
// the packet was cut), or -1 if none is pending.
int deviceNext(uint8_t* out64);

enum class TransferFault { None, Timeout, Short, WrongCode, Gone };
struct TransferPlan {
    TransferFault fault = TransferFault::None;
    int shortLength = 0;
    uint8_t code = 0;
};
// Counts one transfer and says which fault, if any, it suffers.
TransferPlan beginTransfer(bool in);
void recordTransfer(uint8_t endpoint, int requested, const uint8_t* bytes, int moved, int result);
bool unplugged();

// Device-level faults for the transport's open/config/claim calls.
bool deviceAbsent();
int openResult(int address);
int setConfigurationResult();
int claimInterfaceResult();
int deviceListResult();
// libusb's name for an error code, as libusb_error_name gives it.
const char* errorName(int code);
// A USB reset: the firmware forgets half-done commands and queued packets.
void usbReset();

}  // namespace sim
