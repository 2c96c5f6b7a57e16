// The ODBC API as unixODBC declares it.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
