// Resource identifiers shared by the resource script and the code that loads them.
#pragma once

#define IDR_SECDNSADMIN 102
#define IDR_VELASERVERACCESS 103
