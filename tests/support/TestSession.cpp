#include "support/TestSession.h"
