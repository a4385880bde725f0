#include "core/settings.h"

#include "core/report.h"

bool isCindercart(uint8_t factoryProt)
{
    return factoryProt == 0x85 || factoryProt == 0x83;
}

bool decideTurbo(Reporter& r, uint8_t turboMode, uint8_t factoryProt)
{
    if (turboMode == TURBO_AUTO) {
        bool cinder = isCindercart(factoryProt);
        printWindow(r, "");
        printWindow(r, cinder ? "Turbo Mode ON for Cindercart cartridge!"
                           : "Turbo Mode OFF for non-Cindercart cartridge!");
        printWindow(r, "");
        return cinder;
    }
    if (turboMode == TURBO_ON) {
        printWindow(r, "");
        printWindow(r, "Turbo Mode forced ON!");
        printWindow(r, "Verification is recommended!");
        printWindow(r, "");
        return true;
    }
    return false;
}
