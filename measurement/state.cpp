#include "measurement/state.h"

MeasurementState measurementState;
