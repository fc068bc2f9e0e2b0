#include "conversion/point_conversion.h"
