// What a run did, counted inside the child process and read by the parent:
// the counters live in memory shared across the fork of sim::RunProgram.
#pragma once

#include <cstdint>

namespace reliability {

struct Tally {
    uint64_t events;
    uint64_t polls;
    uint64_t failedReads;
    uint64_t readFailureRuns;
    uint64_t boxes;
    uint64_t readBoxes;
    uint64_t failedTimerArms;
    uint64_t sleeps;
    uint64_t signsDecoded;
    uint64_t maxBoxDepth;
    uint64_t maxPaintDepth;
    uint64_t maxLiveTimers;
    // Heap in use (mallinfo2) at the marks a soak asks for; 0: not reached.
    uint64_t heapAt[2];
};

// A zeroed Tally in anonymous shared memory; stays mapped until the process ends.
Tally* NewSharedTally();

} // namespace reliability
