#include "korrin.h"
