// STANDIN: see standin.h.
#include "space/standin.h"

#include "base/standin_calls.h"

void SA_RefitViews(SpaceRoot*) { StandIn_Record("SA_RefitViews"); }
