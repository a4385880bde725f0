#include "sim.h"

void simFreshDevice()
{
    sim::reset();
}
