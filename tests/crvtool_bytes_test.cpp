#include "CrvToolRun.h"

#include <gtest/gtest.h>

namespace {

TEST(CrvToolBytes, Crc32OfAFile) {
    TTempDir dir;
    WriteBytes(dir / "abc", "abc");
    WriteBytes(dir / "empty", "");
    auto r = RunCrvTool({"crc32", (dir / "abc").string()});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Out, "CA6598D0\n");
    EXPECT_EQ(RunCrvTool({"crc32", (dir / "empty").string()}).Out, "00000000\n");
    r = RunCrvTool({"crc32", (dir / "missing").string()});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("missing"), std::string::npos) << r.Err;
}

TEST(CrvToolBytes, EncryptDecryptRoundTripForEveryCipher) {
    TTempDir dir;
    std::string plain(4097, '\0');
    for (std::size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<char>(i * 7 + 3);
    WriteBytes(dir / "plain", plain);
    for (const char* cipher : {"Rijndael_128", "Rijndael_256", "DES_Single", "DES_Triple", "Blowfish",
                               "Twofish_128", "Twofish_256", "Square"}) {
        auto r = RunCrvTool({"encrypt", "--cipher", cipher, "--password", "pw", (dir / "plain").string(),
                             (dir / "enc").string()});
        ASSERT_EQ(r.ExitCode, 0) << cipher << r.Err;
        const std::string enc = ReadText(dir / "enc");
        EXPECT_EQ(enc.size(), plain.size()) << cipher;
        EXPECT_NE(enc, plain) << cipher;
        r = RunCrvTool({"decrypt", "--cipher", cipher, "--password", "pw", (dir / "enc").string(),
                        (dir / "dec").string()});
        ASSERT_EQ(r.ExitCode, 0) << cipher << r.Err;
        EXPECT_EQ(ReadText(dir / "dec"), plain) << cipher;
    }
}

TEST(CrvToolBytes, UsageErrorsExitWithTwo) {
    TTempDir dir;
    WriteBytes(dir / "in", "x");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"no-such-command"},
        {"crc32"},
        {"encrypt", "--cipher", "AES", "--password", "p", (dir / "in").string(), (dir / "out").string()},
        {"encrypt", "--password", "p", (dir / "in").string(), (dir / "out").string()},
        {"decrypt", "--cipher", "Square", "--password"},
        {"crc32", "--bogus", "1", (dir / "in").string()},
    };
    for (const auto& args : cases) {
        const auto r = RunCrvTool(args);
        EXPECT_EQ(r.ExitCode, 2) << (args.empty() ? "" : args[0]) << ": " << r.Err;
        EXPECT_FALSE(r.Err.empty());
    }
    EXPECT_EQ(RunCrvTool({"--help"}).ExitCode, 0);
}

} // namespace
