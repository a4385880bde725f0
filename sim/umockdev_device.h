// The simulated Tetherbox as a USB device under umockdev: the same firmware
// and chip models as the in-process stand-in, reached by the real libusb
// through the kernel's usbfs interface (emulated ioctls on the device node).
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace usbdev {

// Guards the model and the device's URB queues: ioctls arrive on the
// testbed's worker thread, control requests on a thread of their own.
extern std::mutex g_lock;

// Puts a root hub on bus 1 and, unless the model says the linker is absent,
// the Tetherbox behind it with its device node and ioctl handler. The plug
// and unplug events the model plans (PTB_SIM_PLUG) follow on the main loop
// at their wall-clock time. False with a message on stderr if the testbed
// refused.
bool plugIn(UMockdevTestbed* testbed);

// The device goes away as when its cable is pulled: URBs in flight end with
// -ESHUTDOWN, later ioctls fail with ENODEV, and the testbed drops the
// device with a "remove" uevent. Call with g_lock held; from any thread.
void unplug();
// The cable back in: a new device at a new address and node, announced with
// an "add" uevent; the old node's clients still get ENODEV. g_lock held.
void plugBackIn();
// The node of the linker plugged in now may be opened by this user only as
// the model says (the noaccess fault). g_lock held.
void followAccess();
// Until the testbed shows what the model says (the main loop adds and
// removes devices). Call with g_lock held through `held`.
void waitUntilSettled(std::unique_lock<std::mutex>& held);

// Transfer number n from now (1 = the next) stalls its endpoint; the
// endpoint stays halted until the host clears it. Call with g_lock held.
void stallOnTransfer(int n);

// Every transfer, as the device saw it, is appended to this file (flushed
// per line) when set. Call before plugIn().
void traceTo(FILE* file);

// Keeps the model's clock at least at the wall time since plugIn(): over a
// real transport time passes while nothing is sent (an erase, a time-out).
void syncClock();

}  // namespace usbdev
