// The command table of crvtool and the small argument parser the commands share.
#pragma once

#include "CRVCipher/CRVCipher.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

constexpr int KExitOk = 0;
constexpr int KExitError = 1;
constexpr int KExitUsage = 2;
constexpr int KExitNotFound = 3;

// A mistake in the command line: reported with the command's synopsis, exit code 2.
class EUsage : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "--name value" options (a repeated option keeps every value) and positional arguments.
// Options listed as flags take no value.
class TArgs {
public:
    explicit TArgs(std::vector<std::string> raw);

    // Declares the options the command accepts; anything else is a usage error.
    void Accept(std::initializer_list<const char*> valueOptions,
                std::initializer_list<const char*> flags = {});

    bool Has(const std::string& name) const;
    std::string Get(const std::string& name) const; // required
    std::string Get(const std::string& name, const std::string& fallback) const;
    std::vector<std::string> GetAll(const std::string& name) const;
    std::int64_t GetInt(const std::string& name) const; // required
    std::int64_t GetInt(const std::string& name, std::int64_t fallback) const;

    // Exactly `count` positional arguments, else a usage error.
    const std::vector<std::string>& Positional(std::size_t count) const;
    const std::vector<std::string>& Positional() const { return FPositional; }

private:
    std::vector<std::string> FRaw;
    std::map<std::string, std::vector<std::string>> FOptions;
    std::vector<std::string> FPositional;
};

struct TCrvToolCommand {
    const char* Name;
    const char* Synopsis;
    const char* Summary;
    int (*Run)(TArgs&);
};

std::span<const TCrvToolCommand> CrvToolCommands();

// Option helpers shared by the commands; a bad value is a usage error.
// The cipher named by --cipher (required).
TCRVCryptoAlgorithm CipherOption(const TArgs& args);
// The integer option `name`, which must lie in low..high; `fallback` when it is absent (without one
// the option is required).
std::int64_t RangedOption(const TArgs& args, const char* name, std::int64_t low, std::int64_t high,
                          std::optional<std::int64_t> fallback = std::nullopt);

// Raises std::runtime_error "'PATH' is no file" unless PATH names a regular file.
void RequireFile(const std::string& path);

// Whole-file helpers shared by the commands; failures raise std::runtime_error naming the file.
std::vector<std::uint8_t> ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, std::span<const std::uint8_t> bytes);
