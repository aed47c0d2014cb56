// The store file's tables: checked when they are there, made when not.
#pragma once

#include "StoreDb.h"

namespace qxsym::bridge {

/// Refuses a file that is not an SQLite database, holds tables of something
/// else, or whose tables have another shape; otherwise sets the journal up
/// and creates what is missing. Throws StoreError.
void PrepareStoreSchema(const StoreDb& db);

}  // namespace qxsym::bridge
