// Reads signs back from the sign line's waveform, as a person watching the
// sign device would.
#pragma once

#include "exhibit.h"
#include "win32sim.h"

#include <string>
#include <vector>

// The characters keyed on the sign line, from its up intervals and the
// durations: a mark up to twice a dot is a dot, a longer one a dash; a gap
// longer than twice the silence separates two signs. A sign that is no row of
// the table comes back as its dots and dashes.
std::vector<std::string> DecodeSigns(const std::vector<sim::Interval>& rts, const ExhibitSettings& s);
