// The outside observer of the latency figure: a pixel probe that watches what the X server
// holds of the instrument's window, and the join of what it saw with the stand-in's heading
// changes (simstandin's "latency" command). Both sides time on CLOCK_MONOTONIC.
#pragma once

#include <string>

// Polls a band of rows across the middle of the window (the card's ring on both sides and
// the needles) every pollUs microseconds until SIGTERM or SIGINT, or seconds have passed,
// and writes to outPath one line per change of those pixels: the time (ns) the poll that saw
// it returned. Prints the probe's own figures as "name=value" lines.
int RunPixelProbe(unsigned long window, const std::string& outPath, double seconds, long pollUs);

// Joins the stand-in's samples ("changed carried next" in ns, one change a line) with the
// probe's changes: the frame that drew a change is the first probe change after the read
// that carried it out. Prints median and 99th percentile of each span in ms, and of the
// frame period (carrying read to next read).
int RunLatencyJoin(const std::string& samplesPath, const std::string& changesPath);
