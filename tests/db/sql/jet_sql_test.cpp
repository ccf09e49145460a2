#include "db/sql/jet_sql.h"
#include <gtest/gtest.h>
