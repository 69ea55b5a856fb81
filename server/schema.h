#pragma once

#include "database.h"

#include <vector>

// The steps of the server's database schema, oldest first. The message pages
// add their tables as further steps at the end.
const std::vector<Migration>& serverMigrations();
// The same schema on PostgreSQL.
const std::vector<Migration>& serverPostgresMigrations();
