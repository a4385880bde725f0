// The writer's side of the NGF format: which blocks go into a backup. Kept
// apart from the reader, which needs no cartridge state at all.
#include "core/cart/detect.h"
#include "core/saves/ngf.h"

int ngfRecordList(NgfBlockHeader* out)
{
    int count = 0;
    int chips = G_chipSize[1] ? 2 : 1;
    for (int chip = 0; chip < chips; chip++) {
        for (int b = 0; b < BLOCKS_PER_CHIP; b++) {
            if (G_prot[chip * BLOCKS_PER_CHIP + b] != 0)
                continue;
            out[count].NGPCaddr = consoleAddrFromCart(blockNumToAddr(chip, b));
            out[count].blockLen = blockSize(b);
            count++;
        }
    }
    return count;
}
