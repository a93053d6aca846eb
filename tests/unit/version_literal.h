// Version numbers written out in tests.
#pragma once
#include "core/update/client_version.h"

namespace testing_support {

inline core::LocalClientVersion V(int a, int b, int c, int d)
{
    core::LocalClientVersion v;
    v.parts = {a, b, c, d};
    return v;
}

}  // namespace testing_support
