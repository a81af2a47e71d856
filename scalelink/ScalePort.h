#pragma once
// The transmitter's single, process-wide port object.  It is closed from
// program start (constant-initialised members), each transfer job opens it,
// uses it and closes it again, and program exit destroys it, which stops its
// listener and closes the port if a job left it open.  Only one job can hold
// it: a second open fails with SerialErrorAlreadyInitialized (1247).

#include "Serial.h"

extern CSerialMFC theScalePort;
