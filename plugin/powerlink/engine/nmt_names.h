// Names of the NMT commands written to object 0x1F9E (NMT_ResetCmd_U8).
#pragma once

#include <cstdint>

// Name of an NMT command byte, e.g. 0x28 -> "NMTResetNode"; NULL when the byte
// is not a known command (the caller then shows the value).
const char *nmt_command_name(uint8_t command);
