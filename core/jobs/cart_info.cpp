// "Cart Info" and "Protected Blocks": the probe itself, with what it finds
// logged; Cart Info adds the cartridge's header.
#include <cstdint>

#include "core/cart/detect.h"
#include "core/jobs/image_identity.h"
#include "core/jobs/jobs.h"
#include "core/link/linker.h"

bool cartInfo(Job& job)
{
    Reporter& r = job.r;
    if (!linkStillThere(r))
        return false;
    Link& link = job.link;
    Cart& cart = job.cart;
    uint8_t manuf = 0, device = 0, factory = 0;
    if (!checkCart(r, link, &cart, &manuf, &device, &factory, false, true) || cart.megabits() == 0)
        return false;
    // The header is one packet: licence text, entry point, software ID and
    // title, as the console checks them.
    const uint8_t* header = link.read_64_bytes(0, 0);
    if (!header)
        return false;
    logLines(r, headerLines(decodeHeader(header, CART_HEADER_SIZE)));
    return true;
}

bool protectedBlocks(Job& job)
{
    if (!linkStillThere(job.r))
        return false;
    bool clean = checkCart(job.r, job.link, &job.cart, nullptr, nullptr, nullptr, true, true);
    return job.cart.megabits() != 0 && clean;
}
