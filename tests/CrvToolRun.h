// Runs crvtool as a user would and captures what it prints.
#pragma once

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

struct TCrvToolResult {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

// Single-quotes one argument for /bin/sh.
inline std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline std::string ReadText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline TCrvToolResult RunCrvTool(const std::vector<std::string>& args) {
    const auto dir = std::filesystem::temp_directory_path();
    const std::string tag = std::to_string(::getpid()) + "_" + std::to_string(std::rand());
    const auto errPath = dir / ("crvtool_err_" + tag);
    std::string cmd = ShellQuote(CRVTOOL_PATH);
    for (const auto& a : args)
        cmd += " " + ShellQuote(a);
    cmd += " 2>" + ShellQuote(errPath.string());
    TCrvToolResult r;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        std::array<char, 4096> buf;
        std::size_t n;
        while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0)
            r.Out.append(buf.data(), n);
        const int status = ::pclose(p);
        r.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    r.Err = ReadText(errPath);
    std::filesystem::remove(errPath);
    return r;
}

// A fresh temporary folder, removed with everything in it when the object goes.
class TTempDir {
public:
    TTempDir() {
        std::string templ = (std::filesystem::temp_directory_path() / "crvtest_XXXXXX").string();
        FPath = ::mkdtemp(templ.data()) ? templ : std::string();
    }
    ~TTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    std::filesystem::path operator/(const std::string& name) const { return FPath / name; }
    const std::filesystem::path& Path() const { return FPath; }

private:
    std::filesystem::path FPath;
};

inline void WriteBytes(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
