#include "TestEnvironment.h"
