#include <cstdint>

#include "cart/detect.h"
#include "ops/commands.h"

void cb_getInfos_button(Fl_Widget* w, void* data)
{
    uint8_t size = 0, manuf = 0, device = 0, factory = 0;
    checkCart(&size, &manuf, &device, &factory, false, true);
}

void cb_protectedBlocks_button(Fl_Widget* w, void* data)
{
    uint8_t size = 0;
    checkCart(&size, nullptr, nullptr, nullptr, true, true);
}
