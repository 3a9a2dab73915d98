#include "sim/headset_sim.h"
