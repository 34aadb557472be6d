#include "CRVDiskEngine/CRVTableListFile.h"

#include "CRVExcept/CRVExcept.h"

#include <cstring>

namespace {

std::string Upper(const std::string& s) {
    std::string u = s;
    for (char& c : u)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return u;
}

} // namespace

TCRVTableListFile::TCRVTableListFile(TCRVDiskPageManager& pageManager) : FFile(pageManager, ptTableList) {}

TCRVPageNo TCRVTableListFile::CreateFile(TCRVSessionID sessionID) {
    FFile.CreateFile(sessionID);
    FEntries.clear();
    FOpened = true;
    return FFile.StartPageNo();
}

void TCRVTableListFile::OpenFile(TCRVPageNo startPageNo) {
    if (FOpened)
        CRVRaise(30393);
    FFile.OpenFile(startPageNo);
    FOpened = true;
}

std::string TCRVTableListFile::StoredName(const std::string& name) {
    if (name.size() <= 255)
        return name;
    std::size_t cut = 255;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut; // name[cut] would continue a character: cut before that character starts
    return name.substr(0, cut);
}

std::vector<std::uint8_t> TCRVTableListFile::Serialize(const std::vector<TCRVTableListEntry>& entries) {
    std::vector<std::uint8_t> bytes(entries.size() * sizeof(TCRVTableListItem), 0);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        TCRVTableListItem item{};
        const std::string name = StoredName(entries[i].TableName);
        item.TableName[0] = static_cast<std::uint8_t>(name.size());
        std::memcpy(item.TableName + 1, name.data(), name.size());
        item.TableID = entries[i].TableID;
        item.MetaDataFilePageNo = entries[i].MetaDataFilePageNo;
        item.MostUpdatedFilePageNo = entries[i].MostUpdatedFilePageNo;
        item.LocksFilePageNo = entries[i].LocksFilePageNo;
        std::memcpy(bytes.data() + i * sizeof item, &item, sizeof item);
    }
    return bytes;
}

std::vector<TCRVTableListEntry> TCRVTableListFile::Parse(const std::vector<std::uint8_t>& bytes) {
    std::vector<TCRVTableListEntry> entries(bytes.size() / sizeof(TCRVTableListItem));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        TCRVTableListItem item;
        std::memcpy(&item, bytes.data() + i * sizeof item, sizeof item);
        entries[i].TableName.assign(reinterpret_cast<const char*>(item.TableName + 1), item.TableName[0]);
        entries[i].TableID = item.TableID;
        entries[i].MetaDataFilePageNo = item.MetaDataFilePageNo;
        entries[i].MostUpdatedFilePageNo = item.MostUpdatedFilePageNo;
        entries[i].LocksFilePageNo = item.LocksFilePageNo;
    }
    return entries;
}

void TCRVTableListFile::Load(TCRVSessionID sessionID) {
    FEntries = Parse(FFile.ReadAll(sessionID));
}

void TCRVTableListFile::Save(TCRVSessionID sessionID) {
    const std::vector<std::uint8_t> bytes = Serialize(FEntries);
    FFile.WriteFile(sessionID, bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

std::ptrdiff_t TCRVTableListFile::IndexOf(const std::string& tableName) const {
    const std::string wanted = Upper(StoredName(tableName));
    for (std::size_t i = 0; i < FEntries.size(); ++i)
        if (Upper(FEntries[i].TableName) == wanted)
            return static_cast<std::ptrdiff_t>(i);
    return -1;
}

void TCRVTableListFile::AddTable(std::int32_t tableID, const std::string& tableName,
                                 TCRVPageNo metadataFilePageNo, TCRVPageNo mostUpdatedFilePageNo,
                                 TCRVPageNo locksFilePageNo) {
    if (IndexOf(tableName) >= 0)
        CRVRaise(30395, tableName);
    FEntries.push_back(TCRVTableListEntry{StoredName(tableName), tableID, metadataFilePageNo,
                                          mostUpdatedFilePageNo, locksFilePageNo});
}

TCRVTableListEntry TCRVTableListFile::OpenTable(const std::string& tableName) const {
    const std::ptrdiff_t i = IndexOf(tableName);
    if (i < 0)
        CRVRaise(30396, tableName);
    return FEntries[static_cast<std::size_t>(i)];
}

void TCRVTableListFile::RemoveTable(const std::string& tableName) {
    const std::ptrdiff_t i = IndexOf(tableName);
    if (i < 0)
        CRVRaise(30405, tableName);
    FEntries.erase(FEntries.begin() + i);
}

void TCRVTableListFile::RenameTable(const std::string& tableName, const std::string& newTableName) {
    const std::ptrdiff_t i = IndexOf(tableName);
    if (i < 0)
        CRVRaise(30397, tableName);
    // Two tables of one name could never be told apart again.
    if (const std::ptrdiff_t other = IndexOf(newTableName); other >= 0 && other != i)
        CRVRaise(30395, newTableName);
    FEntries[static_cast<std::size_t>(i)].TableName = StoredName(newTableName);
}

bool TCRVTableListFile::TableExists(const std::string& tableName) const {
    return IndexOf(tableName) >= 0;
}

std::vector<std::string> TCRVTableListFile::GetTablesList() const {
    std::vector<std::string> names;
    for (const auto& e : FEntries)
        names.push_back(e.TableName);
    return names;
}
