#include "CrvToolCommands.h"

int CmdCrc32(TArgs&);
int CmdEncrypt(TArgs&);
int CmdDecrypt(TArgs&);

namespace {

// One row per command, in the order the help lists them.
constexpr TCrvToolCommand KCommands[] = {
    {"crc32", "crc32 FILE", "print the engine CRC-32 of FILE as 8 upper-case hexadecimal digits", CmdCrc32},
    {"encrypt", "encrypt --cipher NAME --password PW IN OUT",
     "encipher IN as one buffer with the engine's chaining mode", CmdEncrypt},
    {"decrypt", "decrypt --cipher NAME --password PW IN OUT", "decipher IN as one buffer", CmdDecrypt},
};

} // namespace

std::span<const TCrvToolCommand> CrvToolCommands() { return KCommands; }
