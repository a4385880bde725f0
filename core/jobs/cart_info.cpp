// "Cart Info" and "Protected Blocks": the probe itself, with what it finds
// logged.
#include <cstdint>

#include "core/cart/detect.h"
#include "core/jobs/jobs.h"
#include "core/link/transfer.h"

bool cartInfo(Reporter& r)
{
    ReporterScope scope(r);
    unsigned failures = g_linkFailures;
    uint8_t size = 0, manuf = 0, device = 0, factory = 0;
    checkCart(&size, &manuf, &device, &factory, false, true);
    return size != 0 && g_linkFailures == failures;
}

bool protectedBlocks(Reporter& r)
{
    ReporterScope scope(r);
    unsigned failures = g_linkFailures;
    uint8_t size = 0;
    checkCart(&size, nullptr, nullptr, nullptr, true, true);
    return size != 0 && g_linkFailures == failures;
}
