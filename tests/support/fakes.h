#pragma once
// The fakes live with the core's test kit, which every platform builds.
#include "testkit/fakes.h"
