// crvtool commands over whole files: crc32, encrypt, decrypt.
#include "CrvToolCommands.h"

#include "CRVCipher/CRVChecksum.h"
#include "CRVCipher/CRVCipher.h"

#include <cstdio>

namespace {

int RunCipher(TArgs& args, bool encrypt) {
    args.Accept({"cipher", "password"});
    const auto& files = args.Positional(2);
    const TCRVCryptoAlgorithm alg = CipherOption(args);
    const std::string password = args.Get("password");
    std::vector<std::uint8_t> bytes = ReadWholeFile(files[0]);
    const bool ok = encrypt ? CRVInternalEncryptBuffer(alg, bytes.data(), bytes.size(), password)
                            : CRVInternalDecryptBuffer(alg, bytes.data(), bytes.size(), password);
    if (!ok)
        throw std::runtime_error(std::string(encrypt ? "enciphering" : "deciphering") + " failed");
    WriteWholeFile(files[1], bytes);
    return KExitOk;
}

} // namespace

int CmdCrc32(TArgs& args) {
    args.Accept({});
    const auto bytes = ReadWholeFile(args.Positional(1)[0]);
    std::printf("%08X\n", CRC32(0, bytes.data(), bytes.size()));
    return KExitOk;
}

int CmdEncrypt(TArgs& args) {
    return RunCipher(args, true);
}
int CmdDecrypt(TArgs& args) {
    return RunCipher(args, false);
}
