// The program as the station: `orvane --station [JOB] [--start]`, and with
// --demo on simulated modems (--screenshots takes the station's pictures).
#pragma once

#include "app/arguments.h"

namespace orvane::app {

// Runs the station window until it closes; the program's exit status.
// Needs the QApplication.
int RunStation(const Arguments& arguments);

}  // namespace orvane::app
