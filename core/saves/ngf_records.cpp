// The writer's side of the NGF format: which blocks go into a backup. Kept
// apart from the reader, which needs no cartridge state at all.
#include "core/cart/blocks.h"
#include "core/cart/detect.h"
#include "core/saves/ngf.h"

int ngfRecordList(const Cart& cart, NgfBlockHeader* out)
{
    int count = 0;
    CartLayout layout = cart.layout();
    for (uint8_t chip = 0; chip < 2; chip++) {
        for (const CartBlock& b : layout.blocksOf(chip)) {
            if (cart.isProtected(b))
                continue;
            out[count].NGPCaddr = consoleAddrFromCart(b.start);
            out[count].blockLen = b.size;
            count++;
        }
    }
    return count;
}
