#include "kr_common.h"
