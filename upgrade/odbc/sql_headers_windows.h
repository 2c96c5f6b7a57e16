// The ODBC API as Windows declares it: its headers need windows.h first.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
