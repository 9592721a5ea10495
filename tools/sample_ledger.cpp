// Sample ledgers for the demo command and the large-run benchmark.
#include "tools/ledger_schema.h"
