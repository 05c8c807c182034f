// The frame trace of --trace FILE; the writer lives with the station, whose
// units keep traces of their own.
#pragma once

#include "station/frame_trace.h"

namespace orvane::cli {

using station::DescribeData;
using station::HexBytes;
using station::TraceWriter;

}  // namespace orvane::cli
