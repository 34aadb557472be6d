#include "CrvToolCommands.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

TArgs::TArgs(std::vector<std::string> raw) : FRaw(std::move(raw)) {}

void TArgs::Accept(std::initializer_list<const char*> valueOptions,
                   std::initializer_list<const char*> flags) {
    auto listed = [](std::initializer_list<const char*> list, const std::string& name) {
        for (const char* n : list)
            if (name == n)
                return true;
        return false;
    };
    FOptions.clear();
    FPositional.clear();
    for (std::size_t i = 0; i < FRaw.size(); ++i) {
        const std::string& a = FRaw[i];
        if (a.size() < 3 || a.compare(0, 2, "--") != 0) {
            FPositional.push_back(a);
            continue;
        }
        std::string name = a.substr(2);
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        if (listed(flags, name)) {
            FOptions[name].push_back("1");
        } else if (listed(valueOptions, name)) {
            if (inlineValue) {
                FOptions[name].push_back(*inlineValue);
            } else {
                if (i + 1 >= FRaw.size())
                    throw EUsage("option --" + name + " needs a value");
                FOptions[name].push_back(FRaw[++i]);
            }
        } else {
            throw EUsage("unknown option --" + name);
        }
    }
}

bool TArgs::Has(const std::string& name) const {
    return FOptions.count(name) != 0;
}

std::string TArgs::Get(const std::string& name) const {
    const auto it = FOptions.find(name);
    if (it == FOptions.end())
        throw EUsage("option --" + name + " is required");
    return it->second.back();
}

std::string TArgs::Get(const std::string& name, const std::string& fallback) const {
    return Has(name) ? Get(name) : fallback;
}

std::vector<std::string> TArgs::GetAll(const std::string& name) const {
    const auto it = FOptions.find(name);
    return it == FOptions.end() ? std::vector<std::string>{} : it->second;
}

namespace {
std::int64_t ParseInt(const std::string& name, const std::string& text) {
    try {
        std::size_t used = 0;
        const long long v = std::stoll(text, &used, 10);
        if (used == text.size())
            return v;
    } catch (const std::exception&) {
    }
    throw EUsage("option --" + name + " takes a whole number, not '" + text + "'");
}
} // namespace

std::int64_t TArgs::GetInt(const std::string& name) const {
    return ParseInt(name, Get(name));
}

std::int64_t TArgs::GetInt(const std::string& name, std::int64_t fallback) const {
    return Has(name) ? GetInt(name) : fallback;
}

const std::vector<std::string>& TArgs::Positional(std::size_t count) const {
    if (FPositional.size() != count)
        throw EUsage("expected " + std::to_string(count) + " argument(s), got " +
                     std::to_string(FPositional.size()));
    return FPositional;
}

TCRVCryptoAlgorithm CipherOption(const TArgs& args) {
    const std::string name = args.Get("cipher");
    if (auto alg = CRVCryptoAlgorithmFromName(name))
        return *alg;
    std::string known;
    for (auto n : CryptoAlgorithmNames)
        known += (known.empty() ? "" : ", ") + std::string(n);
    throw EUsage("unknown cipher '" + name + "' (one of " + known + ")");
}

std::int64_t RangedOption(const TArgs& args, const char* name, std::int64_t low, std::int64_t high,
                          std::optional<std::int64_t> fallback) {
    const std::int64_t v = fallback ? args.GetInt(name, *fallback) : args.GetInt(name);
    if (v < low || v > high)
        throw EUsage("option --" + std::string(name) + " must lie in " + std::to_string(low) + ".." +
                     std::to_string(high) + ", not " + std::to_string(v));
    return v;
}

void RequireFile(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        throw std::runtime_error("'" + path + "' is no file");
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open '" + path + "': " + std::strerror(errno));
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw std::runtime_error("cannot read '" + path + "'");
    return bytes;
}

void WriteWholeFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot create '" + path + "': " + std::strerror(errno));
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out)
        throw std::runtime_error("cannot write '" + path + "': " + std::strerror(errno));
}
