// The product's language resource module (Res.dll) and its numbered strings.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Finds and loads the language module through the product's settings, seeding the
// per-user settings where they are missing. Returns null when no module could be
// loaded; after a failed second attempt the user has been told. The module is never
// released: it lives until the process ends.
HMODULE LoadLanguageModule();

// Replaces `target` with string `number` of `module` (null: the updater's own
// executable) and returns true; false when the string is missing or empty, leaving
// `target` as it was.
[[nodiscard]] bool LoadModuleString(HMODULE module, uint16_t number, std::string& target);

// Shows the resources-not-found message. Replaceable so that tests of the loader can
// record the message instead of blocking on a message box.
using ResourceErrorReporter = void (*)(const std::string& message);
void SetResourceErrorReporter(ResourceErrorReporter reporter);

// The full text of the resources-not-found message.
std::string ResourcesNotFoundMessage(DWORD errorCode, const std::string& appPath);
