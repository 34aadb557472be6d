// TCRVDatabaseChecker: reads every page of an open database, straight from the file, and
// reports what does not hold at the page layer: the file's length against the header, page
// signatures and types, the CRCs of enciphered pages, the chains of the system directory, the
// session slots file, the table list and each table's internal files, PFS bits against the pages
// those chains reach (every page is a map page, reachable from exactly one owner, or free), the
// EAM pairs against the PFS bits, and LastUsedPageNo.
//
// Layers above add the pages they own (records, BLOBs, index nodes) with AddOwner before Run.
#pragma once

#include "CRVDiskEngine/CRVDiskPageManager.h"

#include <map>
#include <string>
#include <vector>

class TCRVDatabaseChecker {
public:
    explicit TCRVDatabaseChecker(TCRVDiskPageManager& pageManager);

    // Records that `owner` owns `pageNo` (a page reached by a walk the caller made).
    void AddOwner(TCRVPageNo pageNo, const std::string& owner);
    // One line per problem; empty when the database is sound.
    std::vector<std::string> Run();

private:
    struct TPageInfo {
        bool Readable = false;
        TCRVDiskPageHeader Header{};
    };

    void CheckHeader();
    void ReadPages();
    // The chain's bytes (the stored stream) when `transacted`; empty on a broken chain.
    std::vector<std::uint8_t> WalkChain(TCRVPageNo start, std::uint16_t pageType, bool transacted,
                                        const std::string& owner);
    bool ReadPlainData(TCRVPageNo pageNo, std::vector<std::uint8_t>& page, std::uint16_t pageType);
    void WalkFiles();
    void CheckUsage();
    void CheckExtents();
    bool Used(TCRVPageNo pageNo) const;
    void Problem(std::string text) { FProblems.push_back(std::move(text)); }

    TCRVDiskPageManager& LPageManager;
    std::int32_t FTotalPageCount = 0;
    std::int32_t FReadablePageCount = 0;
    std::vector<TPageInfo> FPages;
    std::map<TCRVPageNo, std::vector<std::uint8_t>> FPfsBits; // PFS page -> its data area
    std::map<TCRVPageNo, std::vector<std::uint8_t>> FEamBits; // EAM page -> its data area
    std::map<TCRVPageNo, std::string> FOwners;
    std::vector<std::string> FProblems;
};
