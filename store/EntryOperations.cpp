#include "store/EntryOperations.h"
