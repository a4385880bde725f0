#include "cli/interrupt.h"

#include <csignal>

static const int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
static const int SIGNAL_COUNT = sizeof SIGNALS / sizeof SIGNALS[0];
// A second signal sooner than this after the first is the same request.
static const double SAME_REQUEST_S = 1.0;

static volatile sig_atomic_t g_signal = 0;
static volatile double g_firstAt = 0.0;
static double (*g_clock)() = nullptr;
static bool g_noticeGiven = false;
static struct sigaction g_saved[SIGNAL_COUNT];
static bool g_caught[SIGNAL_COUNT];

extern "C" void onInterrupt(int sig)
{
    double now = g_clock();
    if (g_signal == 0) {
        g_firstAt = now;
        g_signal = sig;
        return;
    }
    if (now - g_firstAt < SAME_REQUEST_S)
        return;
    // Meant: quit now. The signal is blocked while its handler runs and
    // meets the default action once it returns.
    signal(sig, SIG_DFL);
    raise(sig);
}

InterruptScope::InterruptScope(double (*clock)())
{
    g_clock = clock;
    g_signal = 0;
    g_noticeGiven = false;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (int sig : SIGNALS)
        sigaddset(&action.sa_mask, sig);
    // Transfers in progress are restarted, not failed, by the signal.
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < SIGNAL_COUNT; i++) {
        sigaction(SIGNALS[i], nullptr, &g_saved[i]);
        g_caught[i] = g_saved[i].sa_handler != SIG_IGN;
        if (g_caught[i])
            sigaction(SIGNALS[i], &action, nullptr);
    }
}

InterruptScope::~InterruptScope()
{
    for (int i = 0; i < SIGNAL_COUNT; i++)
        if (g_caught[i])
            sigaction(SIGNALS[i], &g_saved[i], nullptr);
}

bool interrupted()
{
    return g_signal != 0;
}

int interruptSignal()
{
    return g_signal;
}

bool takeInterruptNotice()
{
    if (!interrupted() || g_noticeGiven)
        return false;
    g_noticeGiven = true;
    return true;
}

int interruptedStatus()
{
    return 128 + g_signal;
}
