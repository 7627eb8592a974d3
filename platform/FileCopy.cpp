#include "platform/FileCopy.h"
