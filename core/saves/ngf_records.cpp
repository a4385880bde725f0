// The writer's side of the NGF format: which blocks go into a backup. Kept
// apart from the reader, which needs no cartridge state at all.
#include "core/cart/blocks.h"
#include "core/cart/detect.h"
#include "core/saves/ngf.h"

int ngfRecordList(NgfBlockHeader* out)
{
    int count = 0;
    CartLayout layout = CartLayout::detected();
    for (uint8_t chip = 0; chip < 2; chip++) {
        for (const CartBlock& b : layout.blocksOf(chip)) {
            if (G_prot[b.slot()] != 0)
                continue;
            out[count].NGPCaddr = consoleAddrFromCart(b.start);
            out[count].blockLen = b.size;
            count++;
        }
    }
    return count;
}
