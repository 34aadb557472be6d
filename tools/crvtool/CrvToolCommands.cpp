#include "CrvToolCommands.h"

int CmdCrc32(TArgs&);
int CmdEncrypt(TArgs&);
int CmdDecrypt(TArgs&);
int CmdCompress(TArgs&);
int CmdDecompress(TArgs&);
int CmdBlobWrite(TArgs&);
int CmdBlobRead(TArgs&);
int CmdCreate(TArgs&);
int CmdInfo(TArgs&);
int CmdCheck(TArgs&);
int CmdCreateTable(TArgs&);
int CmdApply(TArgs&);
int CmdDump(TArgs&);
int CmdFind(TArgs&);

namespace {

// One row per command, in the order the help lists them.
constexpr TCrvToolCommand KCommands[] = {
    {"crc32", "crc32 FILE", "print the engine CRC-32 of FILE as 8 upper-case hexadecimal digits", CmdCrc32},
    {"encrypt", "encrypt --cipher NAME --password PW IN OUT",
     "encipher IN as one buffer with the engine's chaining mode", CmdEncrypt},
    {"decrypt", "decrypt --cipher NAME --password PW IN OUT", "decipher IN as one buffer", CmdDecrypt},
    {"compress", "compress --algorithm ZLIB|BZIP|PPM --mode N IN OUT",
     "compress IN as one buffer; OUT holds exactly the compressor's output", CmdCompress},
    {"decompress", "decompress --algorithm ZLIB|BZIP|PPM --size N IN OUT",
     "expand one compressed buffer; N is the expected size (for PPM the most it may give)", CmdDecompress},
    {"blob-write", "blob-write --algorithm NONE|ZLIB|BZIP|PPM --mode M [--block-size B] IN OUT",
     "write IN as a compressed BLOB stream into the container OUT and print its descriptor as one JSON line",
     CmdBlobWrite},
    {"blob-read",
     "blob-read --algorithm A --mode M --block-size B --blocks N --size S [--offset P] [--count C] "
     "[--repair] IN OUT",
     "read the BLOB value held in the container IN (or C bytes from position P) into OUT; --repair keeps the "
     "blocks of a truncated container that can still be read",
     CmdBlobRead},
    {"create",
     "create FILE [--password PW] [--cipher NAME] [--page-size N] [--extent-pages N] [--max-connections N] "
     "[--force]",
     "create a new, empty database file (an existing file is replaced only with --force)", CmdCreate},
    {"info", "info FILE [--password PW]",
     "print the database's header, geometry and table list as one JSON object", CmdInfo},
    {"check", "check FILE [--password PW]",
     "read every page and check the page layer and every table's indexes and rows; print OK (exit 0) or one "
     "line per problem (exit 1)",
     CmdCheck},
    {"create-table", "create-table FILE [--password PW] --schema SCHEMA.json",
     "create the table (a JSON object) or tables (a JSON array) SCHEMA.json describes; a table of the same "
     "name "
     "is replaced",
     CmdCreateTable},
    {"apply", "apply FILE [--password PW] OPS.jsonl",
     "apply one insert, update, delete or empty operation per line; stops at the first failing line (exit 1)",
     CmdApply},
    {"dump", "dump FILE [--password PW] TABLE [--index NAME]",
     "print every row as one JSON object per line, in physical order or the index's order", CmdDump},
    {"find", "find FILE [--password PW] TABLE --index NAME --key VALUE...",
     "print the row the key search lands on as one JSON object, or exit 3 when there is none", CmdFind},
};

} // namespace

std::span<const TCrvToolCommand> CrvToolCommands() {
    return KCommands;
}
