/* The interface between Lumen TX4 and its native extensions.
 *
 * The tool loads an extension library, calls its export RW_InitWrapper with a table of pointer-sized
 * entries and the table's size in bytes, and the extension registers script-callable functions through
 * entry 1. Only the entries below are given; every other slot holds a null pointer.
 *
 * Script values cross the interface as pointer-sized words: an integer n is the word (n << 1) | 1, the
 * word 0 is "no value" (undefined or null), and any other even word names a value the tool keeps for
 * the script context it was made in, valid until the tool's current command ends.
 * Wide strings are wchar_t, terminated by a zero. */
#pragma once
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uintptr_t LumenValue;

#define LUMEN_INT_VALUE(n) ((LumenValue)(((intptr_t)(n) << 1) | 1))
#define LUMEN_VALUE_IS_INT(v) (((v)&1) != 0)
#define LUMEN_VALUE_INT(v) ((intptr_t)(v) >> 1)

/* A script-callable function: (script context, script object, argument count, argument values, out result
 * value) -> non-zero for success. A zero result ends the calling script at that call. */
typedef int (*LumenNativeFunction)(void* context, void* object, unsigned argc, LumenValue* argv,
                                   LumenValue* result);

/* Entry 0: the tool's object for this library (passed back as the first argument of entry 1). */
/* Entry 1. The result is ignored. */
typedef int (*LumenRegisterFunction)(void* library, const wchar_t* name, LumenNativeFunction function,
                                     unsigned argc);
/* Entry 19: the text of a value, or null when it has none; *length receives its length in characters. The
 * text stays valid until the tool's current command ends. */
typedef const wchar_t* (*LumenValueToText)(void* context, LumenValue value, unsigned* length);
/* Entry 37: runs a script text as eval code; *result receives its completion value. The result is
 * non-zero when the script ran without an error. */
typedef int (*LumenRunScript)(void* context, void* object, const wchar_t* text, unsigned length,
                              const wchar_t* sourceLabel, unsigned line, LumenValue* result);

#define LUMEN_ENTRY_LIBRARY 0
#define LUMEN_ENTRY_REGISTER_FUNCTION 1
#define LUMEN_ENTRY_VALUE_TO_TEXT 19
#define LUMEN_ENTRY_RUN_SCRIPT 37
/* The table the tool passes: 40 entries. */
#define LUMEN_ENTRY_COUNT 40

/* The extension's export. */
typedef void (*LumenInitWrapper)(void* const* table, size_t sizeInBytes);

#ifdef __cplusplus
}
#endif
