#include "qv_cgi.h"
