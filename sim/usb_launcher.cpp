// Runs a program against the simulated Tetherbox through the real libusb:
// a umockdev testbed holds the linker as a USB device on bus 1 and the
// program runs with umockdev's preload library, as umockdev-run does.
//
//   usb_launcher [options] [--] PROGRAM [ARGS...]
//   usb_launcher --send REQUEST      (from inside: one request to the device)
//
// The cartridge, firmware, faults and plug events are those of the
// in-process stand-in, from PTB_SIM_CART, PTB_SIM_FIRMWARE, PTB_SIM_FAULT,
// PTB_SIM_PLUG, PTB_SIM_STATE and PTB_SIM_PACE, or from the options that set
// them. The program finds the
// control socket (umockdev_control.cpp) in PTB_USB_CONTROL.
#include "control_client.h"
#include "sim.h"
#include "umockdev_control.h"
#include "umockdev_device.h"

#include <umockdev.h>

#include <glib-unix.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char* PRELOAD = "libumockdev-preload.so.0";

const char* const kUsage =
    "usage: usb_launcher [options] [--] PROGRAM [ARGS...]\n"
    "       usb_launcher --send REQUEST (under a launcher: to its control socket)\n"
    "  --fresh                ignore PTB_SIM_* from the environment\n"
    "  --cart NAME            cartridge in the linker (PTB_SIM_CART)\n"
    "  --firmware MAJOR.MINOR firmware version it reports (PTB_SIM_FIRMWARE)\n"
    "  --fault LIST           injected faults (PTB_SIM_FAULT), e.g. timeout@5,unplug@40\n"
    "  --plug EVENTS          cable pulled and plugged in at those seconds (PTB_SIM_PLUG), e.g. in@2\n"
    "  --state FILE           keep the cartridge in FILE between runs (PTB_SIM_STATE)\n"
    "  --erase-times B,C      block and 16 Mbit chip erase in seconds\n"
    "  --stall N              transfer N stalls its endpoint\n"
    "  --trace FILE           append every transfer the device sees to FILE\n";

// A script's side of the control socket, e.g. to plug the linker in once
// the program says it waits: prints the reply, 0 when it ends in "ok".
int send(const char* request)
{
    const char* path = getenv("PTB_USB_CONTROL");
    if (!path) {
        fprintf(stderr, "usb_launcher: --send outside a launcher\n");
        return 2;
    }
    std::string reply;
    bool ok = usbdev::askLauncher(path, request, &reply);
    fputs(reply.c_str(), stdout);
    return ok ? 0 : 1;
}

// Under umockdev the launcher itself needs the preload library too: the
// testbed's uevents are sent through the emulated udev.
void runUnderPreload(char** argv)
{
    const char* preload = getenv("LD_PRELOAD");
    if (preload && strstr(preload, "libumockdev-preload"))
        return;
    std::string value = PRELOAD;
    if (preload && *preload)
        value += std::string(":") + preload;
    setenv("LD_PRELOAD", value.c_str(), 1);
    // A sanitised build would otherwise refuse to run with a library
    // loaded ahead of its runtime.
    const char* asan = getenv("ASAN_OPTIONS");
    std::string options = asan && *asan ? std::string(asan) + ":" : std::string();
    setenv("ASAN_OPTIONS", (options + "verify_asan_link_order=0").c_str(), 1);
    execv("/proc/self/exe", argv);
    perror("usb_launcher: re-executing under the preload library");
    exit(127);
}

struct Options {
    std::string eraseTimes, stall, trace;
    char** program = nullptr;
};

bool parse(int argc, char** argv, Options* o)
{
    static const struct {
        const char* flag;
        const char* env;
    } kEnv[] = {{"--cart", "PTB_SIM_CART"},
                {"--firmware", "PTB_SIM_FIRMWARE"},
                {"--fault", "PTB_SIM_FAULT"},
                {"--plug", "PTB_SIM_PLUG"},
                {"--state", "PTB_SIM_STATE"}};
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; i++) {
        std::string flag = argv[i];
        if (flag == "--") {
            i++;
            break;
        }
        if (flag == "--fresh") {
            // Tests must not meet a demo setting left in the caller's shell.
            for (const char* name :
                 {"PTB_SIM_CART", "PTB_SIM_FIRMWARE", "PTB_SIM_FAULT", "PTB_SIM_PLUG", "PTB_SIM_STATE", "PTB_SIM_PACE"})
                unsetenv(name);
            continue;
        }
        if (i + 1 >= argc)
            return false;
        const char* value = argv[++i];
        bool known = false;
        for (const auto& e : kEnv) {
            if (flag == e.flag) {
                setenv(e.env, value, 1);
                known = true;
            }
        }
        if (flag == "--erase-times")
            o->eraseTimes = value;
        else if (flag == "--stall")
            o->stall = value;
        else if (flag == "--trace")
            o->trace = value;
        else if (!known)
            return false;
    }
    if (i >= argc)
        return false;
    o->program = argv + i;
    return true;
}

bool configure(const Options& o)
{
    std::string error;
    if (!sim::configureFromEnvironment(&error)) {
        fprintf(stderr, "usb_launcher: %s\n", error.c_str());
        return false;
    }
    std::string times = o.eraseTimes;
    for (char& c : times)
        if (c == ',')
            c = ' ';
    std::string requests[] = {times.empty() ? "" : "erase-times " + times, o.stall.empty() ? "" : "stall " + o.stall};
    for (const std::string& r : requests) {
        std::string reply = r.empty() ? "ok\n" : usbdev::controlRequest(r);
        if (reply.compare(0, 2, "ok") != 0) {
            fprintf(stderr, "usb_launcher: %s", reply.c_str());
            return false;
        }
    }
    if (!o.trace.empty()) {
        FILE* trace = fopen(o.trace.c_str(), "a");
        if (!trace) {
            perror(o.trace.c_str());
            return false;
        }
        usbdev::traceTo(trace);
    }
    return true;
}

pid_t g_child = 0;
int g_status = 0;

void childExited(GPid, gint status, gpointer loop)
{
    g_status = status;
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
}

gboolean passOn(gpointer signal)
{
    if (g_child > 0)
        kill(g_child, GPOINTER_TO_INT(signal));
    return G_SOURCE_CONTINUE;
}

}  // namespace

// GLib and umockdev keep some allocations for the life of the process; a
// sanitised build should report only ours.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgio-2.0.so\nleak:libumockdev\n";
}

extern "C" const char* __lsan_default_options()
{
    return "print_suppressions=0";
}

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "--send") == 0)
        return send(argv[2]);
    Options o;
    if (!parse(argc, argv, &o)) {
        fputs(kUsage, stderr);
        return 2;
    }
    runUnderPreload(argv);
    if (!configure(o))
        return 2;

    UMockdevTestbed* testbed = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(testbed);
    std::string control = std::string(root) + "/control";
    g_free(root);
    if (!usbdev::plugIn(testbed) || !usbdev::startControl(control))
        return 2;
    setenv("PTB_USB_CONTROL", control.c_str(), 1);

    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    pid_t launcher = getpid();
    g_child = fork();
    if (g_child == 0) {
        // The program must not outlive a launcher that is killed.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != launcher)
            _exit(127);
        execvp(o.program[0], o.program);
        perror(o.program[0]);
        _exit(127);
    }
    if (g_child < 0) {
        perror("usb_launcher: fork");
        return 2;
    }
    g_child_watch_add(g_child, childExited, loop);
    g_unix_signal_add(SIGTERM, passOn, GINT_TO_POINTER(SIGTERM));
    g_unix_signal_add(SIGINT, passOn, GINT_TO_POINTER(SIGINT));
    g_unix_signal_add(SIGHUP, passOn, GINT_TO_POINTER(SIGHUP));
    g_main_loop_run(loop);

    {
        std::lock_guard<std::mutex> hold(usbdev::g_lock);
        sim::saveStateIfChanged();
    }
    // The testbed's folder goes with it.
    g_object_unref(testbed);
    if (WIFEXITED(g_status))
        return WEXITSTATUS(g_status);
    return 128 + WTERMSIG(g_status);
}
