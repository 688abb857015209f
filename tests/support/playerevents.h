#pragma once
#include "testkit/playerevents.h"
