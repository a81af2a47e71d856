#include "ScalePort.h"

// Constant-initialised: closed, no listener, unbound before any code runs.
CSerialMFC theScalePort;
