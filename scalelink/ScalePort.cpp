#include "ScalePort.h"

// Constant-initialised (checked by constinit): closed, no listener, unbound
// before any code of the program runs, whatever the order of static
// initialisation.
constinit CSerialMFC theScalePort;
