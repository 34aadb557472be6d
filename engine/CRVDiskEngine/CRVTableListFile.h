// TCRVTableListFile: the table list, an uncompressed transacted internal file of page type 6
// holding one 272-byte TCRVTableListItem per table in creation order. Read whole when the
// database opens, written back whole after every change. Names are matched case-insensitively
// (ASCII letters upper-cased on both sides) and stored as a length byte, at most 255 bytes of
// UTF-8 (cut at a character boundary) and zeros.
#pragma once

#include "CRVDiskEngine/CRVInternalFile.h"

#include <string>
#include <vector>

struct TCRVTableListEntry {
    std::string TableName;
    std::int32_t TableID = 0;
    TCRVPageNo MetaDataFilePageNo = KCRVNoPage;
    TCRVPageNo MostUpdatedFilePageNo = KCRVNoPage;
    TCRVPageNo LocksFilePageNo = KCRVNoPage;
};

class TCRVTableListFile {
public:
    explicit TCRVTableListFile(TCRVDiskPageManager& pageManager);

    TCRVPageNo CreateFile(TCRVSessionID sessionID);
    // 30393 when the list is already open.
    void OpenFile(TCRVPageNo startPageNo);
    void Load(TCRVSessionID sessionID);
    void Save(TCRVSessionID sessionID);

    // 30395 when the name exists; the caller saves the list.
    void AddTable(std::int32_t tableID, const std::string& tableName, TCRVPageNo metadataFilePageNo,
                  TCRVPageNo mostUpdatedFilePageNo, TCRVPageNo locksFilePageNo);
    // 30396 for an unknown name.
    TCRVTableListEntry OpenTable(const std::string& tableName) const;
    // 30405 for an unknown name.
    void RemoveTable(const std::string& tableName);
    // 30397 for an unknown name.
    void RenameTable(const std::string& tableName, const std::string& newTableName);
    bool TableExists(const std::string& tableName) const;
    std::vector<std::string> GetTablesList() const;
    const std::vector<TCRVTableListEntry>& Entries() const { return FEntries; }
    TCRVPageNo StartPageNo() const { return FFile.StartPageNo(); }

    // The name as stored: at most 255 bytes, not cutting a UTF-8 sequence.
    static std::string StoredName(const std::string& name);
    static std::vector<std::uint8_t> Serialize(const std::vector<TCRVTableListEntry>& entries);
    static std::vector<TCRVTableListEntry> Parse(const std::vector<std::uint8_t>& bytes);

private:
    std::ptrdiff_t IndexOf(const std::string& tableName) const;

    TCRVInternalDBTransactedAccessFile FFile;
    std::vector<TCRVTableListEntry> FEntries;
    bool FOpened = false;
};
