#include "core/settings.h"

#include "core/report.h"

bool isCindercart(uint8_t factoryProt)
{
    return factoryProt == 0x85 || factoryProt == 0x83;
}

bool decideTurbo(uint8_t turboMode, uint8_t factoryProt)
{
    if (turboMode == TURBO_AUTO) {
        bool cinder = isCindercart(factoryProt);
        printWindow("");
        printWindow(cinder ? "Turbo Mode ON for Cindercart cartridge!"
                           : "Turbo Mode OFF for non-Cindercart cartridge!");
        printWindow("");
        return cinder;
    }
    if (turboMode == TURBO_ON) {
        printWindow("");
        printWindow("Turbo Mode forced ON!");
        printWindow("Verification is recommended!");
        printWindow("");
        return true;
    }
    return false;
}
