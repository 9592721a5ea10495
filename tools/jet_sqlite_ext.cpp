// Val and CStr of the file database's dialect as a loadable SQLite extension,
// built from the same code as the tool's own, so that statements of the
// recalculation can be timed in the sqlite3 shell:
//   sqlite3 kvdata.mdb ".load ./fatotal_sqlite_ext" "select val(' 1 234.50')"
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT1

#include "data/jet_functions.h"

extern "C" __attribute__((visibility("default"))) int
sqlite3_extension_init(sqlite3 *db, char **, const sqlite3_api_routines *api)
{
    SQLITE_EXTENSION_INIT2(api);
    return fa::jet::registerFunctions(db);
}
