#include "cli/interrupt.h"

#include <csignal>

static volatile sig_atomic_t g_interrupted = 0;
static bool g_noticeGiven = false;
static struct sigaction g_saved;

extern "C" void onInterrupt(int)
{
    g_interrupted = 1;
}

InterruptScope::InterruptScope()
{
    g_interrupted = 0;
    g_noticeGiven = false;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // The handler goes as it runs: the second Ctrl-C meets the default action.
    // Transfers in progress are restarted, not failed, by the first.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, &g_saved);
}

InterruptScope::~InterruptScope()
{
    sigaction(SIGINT, &g_saved, nullptr);
}

bool interrupted()
{
    return g_interrupted != 0;
}

bool takeInterruptNotice()
{
    if (!interrupted() || g_noticeGiven)
        return false;
    g_noticeGiven = true;
    return true;
}
