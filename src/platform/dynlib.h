// SPDX-License-Identifier: GPL-3.0-or-later
// Libraries loaded at run time, for what only some runs need: a process pays
// for loading and relocating a library only once it uses it.
#pragma once

#include <initializer_list>

// A function to look up, and the function pointer that receives it.
struct DYNLIB_SYMBOL {
    const char* name;
    void* slot; // the address of a function pointer
};

// Opens `soname` (never closed: the libraries keep state until the process
// ends) and fills every slot. False, logged under `what`, when the library or
// one of the functions is missing. Any thread; callers load once.
bool DynLib_Load(const char* soname, const char* what,
                 std::initializer_list<DYNLIB_SYMBOL> symbols);

// A DYNLIB_SYMBOL for member `name` of `lib`, named as the function.
#define DYNLIB_SYMBOL_OF(lib, name)                                                                \
    DYNLIB_SYMBOL {                                                                                \
#name, &(lib).name                                                                         \
    }
