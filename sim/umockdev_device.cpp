#include "umockdev_device.h"

#include "sim.h"

#include <umockdev.h>

#include <fcntl.h>
#include <libusb.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <deque>
#include <list>
#include <set>
#include <vector>

namespace usbdev {

std::mutex g_lock;

namespace {

constexpr uint8_t EP_OUT = 0x02;
constexpr uint8_t EP_IN = 0x81;
constexpr int MAX_PACKET = 64;
constexpr unsigned CONFIGURATION = 1;
constexpr unsigned INTERFACE = 0;
constexpr const char* HUB_NODE = "/dev/bus/usb/001/001";

// What a full-speed Tetherbox tells the host about itself: one
// configuration, interface 0 (vendor class) with the two bulk endpoints.
const uint8_t kTetherboxDescriptors[] = {
    18, 1, 0x00, 0x02, 0xFF, 0x00, 0x00, 64, 0xA0, 0x20, 0x78, 0x41, 0x00, 0x01, 0, 0, 0, 1,
    9, 2, 32, 0, 1, CONFIGURATION, 0, 0x80, 50,
    9, 4, INTERFACE, 0, 2, 0xFF, 0x00, 0x00, 0,
    7, 5, EP_OUT, 2, MAX_PACKET, 0, 0,
    7, 5, EP_IN, 2, MAX_PACKET, 0, 0,
};

// The bus's root hub, so that the linker is not the only device and the
// program has to pick it out by vendor and product.
const uint8_t kRootHubDescriptors[] = {
    18, 1, 0x00, 0x02, 0x09, 0x00, 0x01, 64, 0x6B, 0x1D, 0x02, 0x00, 0x00, 0x06, 3, 2, 1, 1,
    9, 2, 25, 0, 1, 1, 0, 0xE0, 0,
    9, 4, 0, 0, 1, 0x09, 0x00, 0x00, 0,
    7, 5, 0x81, 3, 4, 0, 12,
};

// One URB the host submitted, from submission until the host reaps it.
struct Urb {
    UMockdevIoctlData* data;  // the client's struct usbdevfs_urb (our reference)
    UMockdevIoctlClient* client;
    uint8_t endpoint;
    int length;
    sim::TransferPlan plan;
    std::vector<uint8_t> bytes;  // what has moved so far, either way
    bool withheld = false;       // the device never answers this one (a time-out)
};

// The linker from one plugging-in to its unplugging: a replugged linker
// is a new device with a node of its own, and what was opened on the old
// node stays dead.
struct Plugged {
    int address = 0;
    std::string node, syspath;
    bool present = false;  // in the testbed
    bool gone = false;     // unplugged
    int readyFd = -1;
    bool ready = false;
    std::deque<Urb> inFlight;   // submission order
    std::deque<Urb> completed;  // completion order, reaped oldest first
    std::set<UMockdevIoctlClient*> claimed;
    std::set<uint8_t> halted;
};

struct Device {
    UMockdevTestbed* testbed = nullptr;
    std::string root, hub;
    Plugged* now = nullptr;  // the linker plugged in now, if any; the old ones are kept
    uint64_t stallAt = 0;
    FILE* trace = nullptr;
    std::chrono::steady_clock::time_point wallOrigin;
    double modelOrigin = 0;
};

Device g_dev;
std::condition_variable g_plugged;  // a linker added to or removed from the testbed

void followModel();

usbdevfs_urb* urbOf(const Urb& u)
{
    return reinterpret_cast<usbdevfs_urb*>(u.data->data);
}

// The client's memory that the pointer at `offset` in `d` points to, copied
// here and synced back when the ioctl completes; null if it cannot be read.
UMockdevIoctlData* resolved(UMockdevIoctlData* d, size_t offset, size_t length)
{
    GError* error = nullptr;
    UMockdevIoctlData* r = umockdev_ioctl_data_resolve(d, offset, length, &error);
    if (!r) {
        fprintf(stderr, "usb_launcher: client memory: %s\n", error->message);
        g_error_free(error);
    }
    return r;
}

// What the ioctl's argument points to.
UMockdevIoctlData* pointee(UMockdevIoctlClient* client, size_t length)
{
    return resolved(umockdev_ioctl_client_get_arg(client), 0, length);
}

// usbfs signals "a URB is ready to reap" by making the device node
// writable. The node is a FIFO whose pipe holds one slot: a byte in it
// makes it unwritable (nothing to reap), an empty pipe makes it writable.
// Without this libusb's poll never sleeps and it spins on REAPURBNDELAY.
void setReady(Plugged& p, bool ready)
{
    if (ready == p.ready || p.readyFd < 0)
        return;
    char b = 0;
    ssize_t n = ready ? read(p.readyFd, &b, 1) : write(p.readyFd, &b, 1);
    if (n != 1)
        perror("usb_launcher: readiness pipe");
    p.ready = ready;
}

// Root opens any node whatever its mode: a test that wants this refused
// gives up its own privilege to override it.
void setNodeAccess(const Plugged& p)
{
    if (chmod((g_dev.root + p.node).c_str(), sim::openResult(p.address) ? 0 : 0666) != 0)
        perror("usb_launcher: chmod");
}

bool makeReadinessNode(Plugged& p, const std::string& path)
{
    unlink(path.c_str());
    if (mkfifo(path.c_str(), 0666) != 0) {
        perror("usb_launcher: mkfifo");
        return false;
    }
    p.readyFd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (p.readyFd < 0 || fcntl(p.readyFd, F_SETPIPE_SZ, 4096) < 0) {
        perror("usb_launcher: readiness pipe");
        return false;
    }
    p.ready = true;
    setReady(p, false);
    return true;
}

int libusbResult(int status)
{
    switch (status) {
    case 0:
        return LIBUSB_SUCCESS;
    case -ENOENT:
        return LIBUSB_ERROR_TIMEOUT;  // only libusb's time-out discards URBs here
    case -ESHUTDOWN:
        return LIBUSB_ERROR_NO_DEVICE;
    case -EPIPE:
        return LIBUSB_ERROR_PIPE;
    case -EOVERFLOW:
        return LIBUSB_ERROR_OVERFLOW;
    default:
        return LIBUSB_ERROR_IO;
    }
}

void record(const Urb& u, int status)
{
    sim::Mark m = sim::mark();
    sim::recordTransfer(u.endpoint, u.length, u.bytes.data(), static_cast<int>(u.bytes.size()),
                        libusbResult(status));
    if (g_dev.trace) {
        for (const sim::Transfer& t : sim::transfersSince(m))
            fprintf(g_dev.trace, "%s\n", sim::describe(t).c_str());
        fflush(g_dev.trace);
    }
}

// Ends a URB: its results go back to the client when it is reaped.
void complete(Plugged& p, const Urb& u, int status)
{
    usbdevfs_urb* k = urbOf(u);
    k->status = status;
    k->actual_length = static_cast<int>(u.bytes.size());
    if ((u.endpoint & 0x80) && !u.bytes.empty()) {
        if (UMockdevIoctlData* buf = resolved(u.data, offsetof(usbdevfs_urb, buffer), u.length)) {
            memcpy(buf->data, u.bytes.data(), u.bytes.size());
            g_object_unref(buf);
        }
    }
    record(u, status);
    p.completed.push_back(u);
    setReady(p, true);
}

// Hands the firmware's queued packets to the oldest IN URB, as the host
// controller would poll the endpoint: a short packet or a full buffer ends it.
void deliver(Plugged& p)
{
    while (!p.inFlight.empty()) {
        auto it = std::find_if(p.inFlight.begin(), p.inFlight.end(), [](const Urb& u) { return u.endpoint == EP_IN; });
        if (it == p.inFlight.end() || it->withheld || !sim::devicePacketPending())
            return;
        Urb& u = *it;
        uint8_t packet[MAX_PACKET];
        int n = sim::deviceNext(packet);
        if (u.bytes.empty() && u.plan.fault == sim::TransferFault::Short)
            n = std::min(n, u.plan.shortLength);
        if (u.bytes.empty() && u.plan.fault == sim::TransferFault::WrongCode && n > 0)
            packet[0] = u.plan.code;
        int room = u.length - static_cast<int>(u.bytes.size());
        int status = -1;
        if (n > room) {
            u.bytes.insert(u.bytes.end(), packet, packet + room);
            status = -EOVERFLOW;  // the device babbled past the buffer
        } else {
            u.bytes.insert(u.bytes.end(), packet, packet + n);
            if (n < MAX_PACKET || static_cast<int>(u.bytes.size()) == u.length)
                status = 0;
        }
        if (status == -1)
            continue;
        Urb done = u;
        p.inFlight.erase(it);
        complete(p, done, status);
    }
}

void sendOut(Plugged& p, Urb& u)
{
    UMockdevIoctlData* buf = u.length > 0 ? resolved(u.data, offsetof(usbdevfs_urb, buffer), u.length) : nullptr;
    if (u.length > 0 && !buf) {
        complete(p, u, -EFAULT);
        return;
    }
    int limit = u.plan.fault == sim::TransferFault::Short ? std::min(u.length, u.plan.shortLength) : u.length;
    if (buf) {
        u.bytes.assign(buf->data, buf->data + limit);
        g_object_unref(buf);
    }
    // Bulk OUT travels as max-size packets and a shorter last one.
    int sent = 0;
    do {
        int n = std::min(MAX_PACKET, limit - sent);
        sim::hostSends(u.bytes.data() + sent, n);
        sent += n;
    } while (sent < limit);
    complete(p, u, 0);
}

void killInFlight(Plugged& p, int status)
{
    while (!p.inFlight.empty()) {
        Urb u = p.inFlight.front();
        p.inFlight.pop_front();
        complete(p, u, status);
    }
}

gboolean removeFromTestbed(gpointer data)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Plugged* p = static_cast<Plugged*>(data);
    if (p->present) {
        umockdev_testbed_uevent(g_dev.testbed, p->syspath.c_str(), "remove");
        umockdev_testbed_remove_device(g_dev.testbed, p->syspath.c_str());
        p->present = false;
    }
    g_plugged.notify_all();
    return G_SOURCE_REMOVE;
}

void finish(UMockdevIoctlClient* client, long result, int error)
{
    umockdev_ioctl_client_complete(client, result, error);
}

// The argument of an ioctl that points at one unsigned int.
bool readUint(UMockdevIoctlClient* client, unsigned* value)
{
    UMockdevIoctlData* d = pointee(client, sizeof(unsigned));
    if (!d)
        return false;
    memcpy(value, d->data, sizeof(unsigned));
    g_object_unref(d);
    return true;
}

// A libusb error the model wants from set_configuration or claim_interface,
// as the errno libusb turns back into it.
int errnoFor(int libusbCode, int notFoundErrno)
{
    switch (libusbCode) {
    case LIBUSB_ERROR_NOT_FOUND:
        return notFoundErrno;
    case LIBUSB_ERROR_BUSY:
        return EBUSY;
    case LIBUSB_ERROR_NO_DEVICE:
        return ENODEV;
    default:
        return EIO;  // libusb reports any other errno as LIBUSB_ERROR_OTHER
    }
}

void submit(Plugged& p, UMockdevIoctlClient* client)
{
    UMockdevIoctlData* data = pointee(client, sizeof(usbdevfs_urb));
    if (!data) {
        finish(client, -1, EFAULT);
        return;
    }
    usbdevfs_urb* k = reinterpret_cast<usbdevfs_urb*>(data->data);
    if (k->type != USBDEVFS_URB_TYPE_BULK || (k->endpoint != EP_OUT && k->endpoint != EP_IN) ||
        k->buffer_length < 0) {
        // The interface has no such endpoint: usbfs refuses the URB.
        sim::recordTransfer(k->endpoint, k->buffer_length, nullptr, 0, LIBUSB_ERROR_IO);
        g_object_unref(data);
        finish(client, -1, ENOENT);
        return;
    }
    if (p.claimed.count(client) == 0) {
        g_object_unref(data);
        finish(client, -1, EINVAL);
        return;
    }
    Urb u{data, client, k->endpoint, k->buffer_length, {}, {}};
    syncClock();
    u.plan = sim::beginTransfer(u.endpoint & 0x80);
    if (g_dev.stallAt && sim::counters().transfers == g_dev.stallAt) {
        p.halted.insert(u.endpoint);
        g_dev.stallAt = 0;
    }
    if (u.plan.fault == sim::TransferFault::Gone) {
        // The cable came out while this transfer was on its way.
        p.inFlight.push_back(u);
        followModel();
    } else if (p.halted.count(u.endpoint)) {
        complete(p, u, -EPIPE);
    } else if (u.plan.fault == sim::TransferFault::Timeout || (u.endpoint & 0x80)) {
        u.withheld = u.plan.fault == sim::TransferFault::Timeout;
        p.inFlight.push_back(u);
        deliver(p);
    } else {
        sendOut(p, u);
        deliver(p);
    }
    // Accepted: what became of it shows when the host reaps it.
    finish(client, 0, 0);
}

void reap(Plugged& p, UMockdevIoctlClient* client)
{
    auto it = std::find_if(p.completed.begin(), p.completed.end(),
                           [client](const Urb& u) { return u.client == client; });
    if (it == p.completed.end()) {
        finish(client, -1, p.gone ? ENODEV : EAGAIN);
        return;
    }
    UMockdevIoctlData* slot = pointee(client, sizeof(void*));
    if (!slot) {
        finish(client, -1, EFAULT);
        return;
    }
    Urb u = *it;
    p.completed.erase(it);
    umockdev_ioctl_data_set_ptr(slot, 0, u.data);
    finish(client, 0, 0);
    g_object_unref(slot);
    g_object_unref(u.data);
    setReady(p, !p.completed.empty());
}

// libusb's time-out: the host gives up on a URB, which ends with -ENOENT.
void discard(Plugged& p, UMockdevIoctlClient* client)
{
    gulong address = 0;
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    memcpy(&address, arg->data, std::min<size_t>(sizeof address, arg->data_len));
    auto it = std::find_if(p.inFlight.begin(), p.inFlight.end(),
                           [&](const Urb& u) { return u.client == client && u.data->client_addr == address; });
    if (it == p.inFlight.end()) {
        finish(client, -1, EINVAL);  // already complete
        return;
    }
    Urb u = *it;
    p.inFlight.erase(it);
    syncClock();
    complete(p, u, -ENOENT);
    finish(client, 0, 0);
    deliver(p);  // a packet the withheld URB did not take goes to the next one
}

gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Plugged& p = *static_cast<Plugged*>(data);
    unsigned long request = umockdev_ioctl_client_get_request(client);
    if (request == USBDEVFS_REAPURBNDELAY) {
        reap(p, client);
        return TRUE;
    }
    if (p.gone) {
        finish(client, -1, ENODEV);
        return TRUE;
    }
    unsigned value = 0;
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES:
        if (UMockdevIoctlData* d = pointee(client, sizeof(uint32_t))) {
            uint32_t caps = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                            USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
            memcpy(d->data, &caps, sizeof caps);
            g_object_unref(d);
            finish(client, 0, 0);
        } else {
            finish(client, -1, EFAULT);
        }
        break;
    case USBDEVFS_SETCONFIGURATION:
        if (!readUint(client, &value))
            finish(client, -1, EFAULT);
        else if (int code = sim::setConfigurationResult())
            finish(client, -1, errnoFor(code, EINVAL));
        else if (value != CONFIGURATION && value != static_cast<unsigned>(-1))
            finish(client, -1, EINVAL);
        else if (!p.claimed.empty())
            finish(client, -1, EBUSY);  // not under a claimed interface
        else
            finish(client, 0, 0);
        break;
    case USBDEVFS_CLAIMINTERFACE:
        if (!readUint(client, &value))
            finish(client, -1, EFAULT);
        else if (int code = sim::claimInterfaceResult())
            finish(client, -1, errnoFor(code, ENOENT));
        else if (value != INTERFACE)
            finish(client, -1, ENOENT);
        else if (!p.claimed.empty() && !p.claimed.count(client))
            finish(client, -1, EBUSY);
        else {
            p.claimed.insert(client);
            finish(client, 0, 0);
        }
        break;
    case USBDEVFS_RELEASEINTERFACE:
        if (!readUint(client, &value) || value != INTERFACE || !p.claimed.erase(client))
            finish(client, -1, EINVAL);
        else
            finish(client, 0, 0);
        break;
    case USBDEVFS_RESET:
        sim::usbReset();
        p.halted.clear();
        finish(client, 0, 0);
        break;
    case USBDEVFS_CLEAR_HALT:
        if (!readUint(client, &value))
            finish(client, -1, EFAULT);
        else {
            p.halted.erase(static_cast<uint8_t>(value));
            finish(client, 0, 0);
        }
        break;
    case USBDEVFS_SUBMITURB:
        submit(p, client);
        break;
    case USBDEVFS_DISCARDURB:
        discard(p, client);
        break;
    default:
        fprintf(stderr, "usb_launcher: ioctl 0x%lX not emulated\n", request);
        finish(client, -1, ENOTTY);
        break;
    }
    return TRUE;
}

// A closed device node takes its URBs and its claim with it.
void onVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Plugged& p = *static_cast<Plugged*>(data);
    for (auto* queue : {&p.inFlight, &p.completed}) {
        for (auto it = queue->begin(); it != queue->end();) {
            if (it->client == client) {
                g_object_unref(it->data);
                it = queue->erase(it);
            } else {
                ++it;
            }
        }
    }
    p.claimed.erase(client);
    setReady(p, !p.completed.empty());
    sim::saveStateIfChanged();
}

// Adds the device's sysfs entry in one step, as the kernel shows a device
// only once it is enumerated: the testbed announces it with an "add" uevent
// when its attributes, the binary descriptors included, are all there (set
// one by one after umockdev_testbed_add_device(), a listener could read
// them half written). `parent` is a sysfs path ("" for a root hub); the
// device's path is returned, empty if the testbed refused it.
std::string addUsbDevice(UMockdevTestbed* testbed, const char* name, const std::string& parent,
                         const char* devnum, const char* node, const uint8_t* descriptors, int length)
{
    std::string syspath = (parent.empty() ? std::string("/sys/devices") : parent) + "/" + name;
    std::string record = "P: " + syspath.substr(strlen("/sys")) +
                         "\nE: SUBSYSTEM=usb\nE: DEVNAME=" + node +
                         "\nE: DEVTYPE=usb_device\nE: BUSNUM=001\nE: DEVNUM=" + devnum +
                         "\nA: busnum=1\\n\nA: devnum=" + devnum +
                         "\\n\nA: bConfigurationValue=1\\n\nA: speed=12\\n\nH: descriptors=";
    for (int i = 0; i < length; i++) {
        char hex[3];
        snprintf(hex, sizeof hex, "%02X", descriptors[i]);
        record += hex;
    }
    record += "\n";
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed, record.c_str(), &error)) {
        fprintf(stderr, "usb_launcher: %s\n", error->message);
        g_error_free(error);
        return std::string();
    }
    return syspath;
}

}  // namespace

void traceTo(FILE* file)
{
    g_dev.trace = file;
}

void syncClock()
{
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - g_dev.wallOrigin).count();
    double behind = g_dev.modelOrigin + wall - sim::clockSeconds();
    if (behind > 0)
        sim::advanceClock(behind);
}

namespace {

std::list<Plugged> g_everPlugged;  // kept: an old node's clients still get ENODEV

// Puts the linker plugged in now into the testbed: its node with the
// readiness pipe and the ioctl handler that answers on it, and only then its
// sysfs entry, whose "add" uevent tells the host. A host that hears of the
// device opens its node at once: before the handler is attached it would
// meet a bare FIFO and fail the first ioctl with ENOTTY, which no real
// device node does. On the main loop, with g_lock held.
bool addToTestbed(Plugged* p)
{
    char devnum[8];
    snprintf(devnum, sizeof devnum, "%03d", p->address);
    p->node = std::string("/dev/bus/usb/001/") + devnum;
    if (!makeReadinessNode(*p, g_dev.root + p->node)) {
        fprintf(stderr, "usb_launcher: could not add the linker\n");
        return false;
    }
    setNodeAccess(*p);
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    // GCallback is void(*)(void), the one cast GCC does not warn about.
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(onIoctl), p);
    g_signal_connect(handler, "client-vanished", G_CALLBACK(onVanished), p);
    GError* error = nullptr;
    bool attached = umockdev_testbed_attach_ioctl(g_dev.testbed, p->node.c_str(), handler, &error);
    g_object_unref(handler);  // the testbed keeps it
    if (!attached) {
        fprintf(stderr, "usb_launcher: %s\n", error->message);
        g_error_free(error);
        return false;
    }
    p->syspath = addUsbDevice(g_dev.testbed, "1-1", g_dev.hub, devnum, p->node.c_str(), kTetherboxDescriptors,
                              sizeof kTetherboxDescriptors);
    if (p->syspath.empty()) {
        fprintf(stderr, "usb_launcher: could not add the linker\n");
        return false;
    }
    p->present = true;
    g_plugged.notify_all();
    return true;
}

gboolean addLater(gpointer data)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Plugged* p = static_cast<Plugged*>(data);
    if (!p->gone)
        addToTestbed(p);
    return G_SOURCE_REMOVE;
}

Plugged* newPlugged(int address)
{
    g_everPlugged.emplace_back();
    Plugged* p = &g_everPlugged.back();
    p->address = address;
    g_dev.now = p;
    return p;
}

// The testbed follows the model's cable: what the plan, a fault or a
// request did to it is done to the emulated device. g_lock held.
void followModel()
{
    sim::pluggedIn();
    for (const sim::PlugChange& change : sim::takePlugChanges()) {
        if (change.in) {
            g_idle_add(addLater, newPlugged(change.address));
        } else if (Plugged* p = g_dev.now) {
            g_dev.now = nullptr;
            p->gone = true;
            killInFlight(*p, -ESHUTDOWN);
            g_idle_add(removeFromTestbed, p);
        }
    }
}

gboolean followPlan(gpointer);

// A planned plug or unplug happens when the wall clock since plugIn() says.
void scheduleNextPlugEvent()
{
    double next = sim::nextPlugEvent();
    if (!std::isfinite(next))
        return;
    double delay = std::max(0.0, next - sim::clockSeconds());
    g_timeout_add(static_cast<guint>(std::ceil(delay * 1000)), followPlan, nullptr);
}

gboolean followPlan(gpointer)
{
    std::lock_guard<std::mutex> hold(g_lock);
    syncClock();
    followModel();
    scheduleNextPlugEvent();
    return G_SOURCE_REMOVE;
}

}  // namespace

bool plugIn(UMockdevTestbed* testbed)
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_dev.testbed = testbed;
    g_dev.wallOrigin = std::chrono::steady_clock::now();
    g_dev.modelOrigin = sim::clockSeconds();
    gchar* rootDir = umockdev_testbed_get_root_dir(testbed);
    g_dev.root = rootDir;
    g_free(rootDir);
    g_mkdir_with_parents((g_dev.root + "/dev/bus/usb/001").c_str(), 0755);

    g_dev.hub = addUsbDevice(testbed, "usb1", "", "001", HUB_NODE, kRootHubDescriptors,
                             sizeof kRootHubDescriptors);
    // Device nodes are not made for us; nobody opens the hub's.
    if (g_dev.hub.empty() || !g_file_set_contents((g_dev.root + HUB_NODE).c_str(), "", 0, nullptr)) {
        fprintf(stderr, "usb_launcher: could not add the root hub\n");
        return false;
    }
    sim::takePlugChanges();
    scheduleNextPlugEvent();
    if (sim::deviceAbsent())
        return true;
    return addToTestbed(newPlugged(sim::usbAddress()));
}

void followAccess()
{
    if (g_dev.now && g_dev.now->present)
        setNodeAccess(*g_dev.now);
}

void unplug()
{
    sim::unplugNow();
    followModel();
}

void plugBackIn()
{
    sim::plugInNow();
    followModel();
}

void waitUntilSettled(std::unique_lock<std::mutex>& held)
{
    g_plugged.wait(held, [] {
        for (const Plugged& p : g_everPlugged)
            if (p.present != (&p == g_dev.now))
                return false;
        return true;
    });
}

void stallOnTransfer(int n)
{
    g_dev.stallAt = n > 0 ? sim::counters().transfers + static_cast<uint64_t>(n) : 0;
}

}  // namespace usbdev
