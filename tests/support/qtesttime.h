#pragma once

// Qt Test's short wait forms with the build's time scale (see testtime.h).
// Qt's header comes first so that no later include restores its fixed 5 s.
#include <QtTest>

#include "support/testtime.h"

#if VX_TEST_TIME_SCALE != 1
#undef QTRY_VERIFY
#undef QTRY_VERIFY2
#undef QTRY_COMPARE
#define QTRY_VERIFY(expr) QTRY_VERIFY_WITH_TIMEOUT((expr), vxtest::scaled(5000))
#define QTRY_VERIFY2(expr, message) QTRY_VERIFY2_WITH_TIMEOUT((expr), (message), vxtest::scaled(5000))
#define QTRY_COMPARE(expr, expected) QTRY_COMPARE_WITH_TIMEOUT((expr), expected, vxtest::scaled(5000))
#endif
