#pragma once

// Waits in tests bound how long some work may take. Sanitizer builds run that
// work several times slower, so their bounds stretch by the same factor
// (VX_TEST_TIME_SCALE, set by the build). A wait that passes only ends sooner;
// a bound that is a contract (a prompt stop, a timely unplug) is scaled too,
// since it measures our code, not the instrumentation.
#ifndef VX_TEST_TIME_SCALE
#define VX_TEST_TIME_SCALE 1
#endif

namespace vxtest {
constexpr int kTimeScale = VX_TEST_TIME_SCALE;
constexpr int scaled(int ms) { return ms * kTimeScale; }
} // namespace vxtest
