// The one header that decides what the platform provides. Everything else includes
// this instead of <windows.h>, so that compiler differences (MinGW-w64, MSVC) are
// settled here and nowhere else.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <objbase.h>

// Interfaces compiled from our IDL. widl's C++ headers define the interfaces as
// abstract structs with STDMETHODCALLTYPE members, which MSVC's MIDL output matches.
#include "VeladcomClient.h"
#include "VelaAgent.h"
