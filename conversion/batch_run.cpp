#include "conversion/batch_run.h"
