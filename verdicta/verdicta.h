// The C interface of the result reporting library, as installers and patchers call it by name.
#pragma once
#include <cstdint>

#define VERDICTA_EXPORT extern "C" __attribute__((visibility("default")))

// The product's install path (QUD_APP_INSTALL_PATH) as UTF-8. On input *size is the buffer's capacity in
// bytes. 1 with the text and its zero copied and *size its length; else 0 with *size the length plus one
// (0 when the variable is not set), so a caller asks first with a null buffer.
VERDICTA_EXPORT int QUDGetClientAppPath(std::uint32_t* size, char* buffer);

// Writes the result file named by QUD_IRPT_PATH with `code` and the UTF-8 `message` (null for none).
// 0 when the variable is not set; 1 otherwise, also when the file cannot be written.
VERDICTA_EXPORT int QUDSetVerdicta(std::int32_t code, const char* message);

// As QUDSetVerdicta, for a message in the system's ANSI code page.
VERDICTA_EXPORT int QUDEncodeAndSetVerdicta(std::int32_t code, const char* message);

using QUDGetClientAppPathFn = int (*)(std::uint32_t* size, char* buffer);
using QUDSetVerdictaFn = int (*)(std::int32_t code, const char* message);
