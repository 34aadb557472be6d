// crvtool commands over the tables of a database: create-table, apply, dump, find.
//
// Values travel as JSON: text as strings, numbers, true/false, null; date-times as
// "YYYY-MM-DDTHH:MM:SS.mmm"; memo fields as text; binary BLOB and bytes fields as base64.
// dump and find write that form, apply and find's keys read it back.
#include "CmdTables.h"
#include "CrvToolCommands.h"

#include "CRVBaseEngine/CRVBTreePageIndexAccess.h"
#include "CRVBaseEngine/CRVBlobPage.h"
#include "CRVCompression/CRVCompression.h"
#include "CRVLocalEngine/CRVTableData.h"
#include "CRVMain/CRVTable.h"
#include "CRVTypes/CRVFieldTypes.h"
#include "CRVTypes/CRVRecordLayout.h"
#include "CRVTypes/CRVText.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

using nlohmann::json;
using nlohmann::ordered_json;

namespace {

// --- base64 ---

constexpr char KBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64Encode(const std::vector<std::byte>& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t n = std::to_integer<std::uint32_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            n |= std::to_integer<std::uint32_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            n |= std::to_integer<std::uint32_t>(bytes[i + 2]);
        out += KBase64Digits[(n >> 18) & 63];
        out += KBase64Digits[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? KBase64Digits[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? KBase64Digits[n & 63] : '=';
    }
    return out;
}

std::vector<std::byte> Base64Decode(const std::string& text, const std::string& what) {
    auto digit = [](char c) -> int {
        const char* p = std::char_traits<char>::find(KBase64Digits, 64, c);
        return p ? static_cast<int>(p - KBase64Digits) : -1;
    };
    std::vector<std::byte> out;
    std::uint32_t acc = 0;
    int bits = 0;
    std::size_t padding = 0;
    for (char c : text) {
        if (c == '=') {
            ++padding;
            continue;
        }
        const int d = digit(c);
        if (d < 0 || padding > 0)
            throw std::runtime_error(what + ": not valid base64");
        acc = (acc << 6) | static_cast<std::uint32_t>(d);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::byte>((acc >> bits) & 0xFF));
        }
    }
    if (padding > 2 || (text.size() % 4 != 0 && padding > 0))
        throw std::runtime_error(what + ": not valid base64");
    return out;
}

// --- date-times ---

std::string DateTimeText(double value) {
    std::string text = CRVDateTimeToText(value); // "YYYY-MM-DD HH:MM:SS.mmm"
    if (const auto space = text.find(' '); space != std::string::npos)
        text[space] = 'T';
    return text;
}

// "YYYY-MM-DD", "YYYY-MM-DDTHH:MM:SS" or "YYYY-MM-DDTHH:MM:SS.mmm" (a space may stand for the T).
double ParseDateTime(const std::string& text, const std::string& what) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    char sep = 'T';
    int used = 0;
    const int n = std::sscanf(text.c_str(), "%4d-%2d-%2d%n%c%2d:%2d:%2d%n", &y, &mo, &d, &used, &sep, &h, &mi,
                              &s, &used);
    bool ok = (n == 3 && used == static_cast<int>(text.size())) || (n == 7 && (sep == 'T' || sep == ' '));
    if (ok && n == 7 && used != static_cast<int>(text.size())) {
        int more = 0;
        ok = text[static_cast<std::size_t>(used)] == '.' &&
             std::sscanf(text.c_str() + used, ".%3d%n", &ms, &more) == 1 &&
             used + more == static_cast<int>(text.size()) && more == 4;
    }
    double value = 0;
    if (!ok || !CRVTryEncodeDateTime(y, mo, d, h, mi, s, ms, value))
        throw std::runtime_error(what + ": '" + text +
                                 "' is not a date-time of the form YYYY-MM-DDTHH:MM:SS.mmm");
    return value;
}

// --- values ---

bool IsBinaryField(const TCRVFieldDef& def) {
    const TCRVBaseFieldType b = def.BaseFieldType;
    return b == TCRVBaseFieldType::bftBlob || b == TCRVBaseFieldType::bftBytes ||
           b == TCRVBaseFieldType::bftVarBytes;
}

TCRVValue PlainJsonValue(const json& v, const std::string& what) {
    if (v.is_null())
        return std::monostate{};
    if (v.is_boolean())
        return v.get<bool>();
    if (v.is_number_unsigned() && v.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX))
        throw std::runtime_error(what + ": " + v.dump() + " is out of the range of a 64-bit integer");
    if (v.is_number_integer())
        return v.get<std::int64_t>();
    if (v.is_number())
        return v.get<double>();
    if (v.is_string())
        return v.get<std::string>();
    throw std::runtime_error(what + ": a value must be a string, number, true, false or null");
}

// A JSON value in the form dump writes, as the field takes it.
TCRVValue JsonToFieldValue(const TCRVFieldDef& def, const json& v) {
    const std::string what = "field '" + def.Name + "'";
    if (v.is_string()) {
        if (IsDateTimeFieldType(def.BaseFieldType))
            return ParseDateTime(v.get<std::string>(), what);
        if (IsBinaryField(def))
            return Base64Decode(v.get<std::string>(), what);
        if (def.BaseFieldType == TCRVBaseFieldType::bftLogical) {
            const std::string t = v.get<std::string>();
            if (CRVSameName(t, "true") || CRVSameName(t, "false"))
                return CRVSameName(t, "true");
        }
    }
    return PlainJsonValue(v, what);
}

json FieldToJson(TCRVField& field) {
    if (field.IsNull())
        return nullptr;
    const TCRVFieldDef& def = field.Def();
    const TCRVValue value = field.Value();
    if (IsDateTimeFieldType(def.BaseFieldType))
        return DateTimeText(field.AsDateTime());
    if (const auto* bytes = std::get_if<std::vector<std::byte>>(&value))
        return Base64Encode(*bytes);
    if (const auto* b = std::get_if<bool>(&value))
        return *b;
    if (const auto* i = std::get_if<std::int64_t>(&value))
        return *i;
    if (const auto* d = std::get_if<double>(&value))
        return *d;
    if (const auto* s = std::get_if<std::string>(&value))
        return *s;
    if (const auto* w = std::get_if<std::u16string>(&value))
        return CRVUtf16ToUtf8(*w);
    return nullptr;
}

ordered_json RowToJson(TCRVTable& table) {
    ordered_json row = ordered_json::object();
    for (const auto& f : table.Fields())
        row[f->FieldName()] = FieldToJson(*f);
    return row;
}

std::string DumpLine(const ordered_json& j) {
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

// --- the database ---

// A database component on FILE with the command's password, opened; closed on scope exit.
struct TOpenDatabase {
    TOpenDatabase(const std::string& path, const std::string& password, bool readOnly) {
        RequireFile(path);
        Db.DatabaseName = "crvtool";
        Db.SetDatabaseFileName(path);
        Db.Password = password;
        Db.ReadOnly = readOnly;
        Db.SilentMode = true;
        Db.Open();
    }
    ~TOpenDatabase() {
        try {
            Db.Close();
        } catch (...) {
        }
    }
    TCRVDatabase Db;
};

void OpenTable(TCRVTable& table, const std::string& indexName) {
    if (!table.Exists())
        throw std::runtime_error("no table '" + table.TableName + "' in the database");
    table.SetIndexName(indexName);
    table.Open();
}

// Assigns the key values to the active index's columns, in column order, and goes to the key.
bool GotoKeyValues(TCRVTable& table, const std::vector<json>& key) {
    const TCRVIndexDef* index = table.TableIndexDefs().GetIndexDefByName(table.IndexName());
    if (!index)
        throw std::runtime_error("no index '" + table.IndexName() + "' on table '" + table.TableName + "'");
    if (key.empty() || key.size() > index->Columns.size())
        throw std::runtime_error("index '" + index->Name + "' has " + std::to_string(index->Columns.size()) +
                                 " column(s); " + std::to_string(key.size()) + " key value(s) given");
    table.SetKey();
    for (std::size_t i = 0; i < key.size(); ++i) {
        TCRVField& field = table.FieldByName(index->Columns[i].FieldName);
        field.SetValue(JsonToFieldValue(field.Def(), key[i]));
    }
    return table.GotoKey();
}

// --- the schema form ---

TCRVAdvancedFieldType TypeFromName(const std::string& name) {
    for (const TCRVTypeTableRow& row : CRVTypeTable())
        if (CRVSameName(row.TypeName, name))
            return row.AdvancedType;
    throw std::runtime_error("unknown field type '" + name + "'");
}

TCRVValue OptionalValue(const json& field, const char* key) {
    return field.contains(key) ? PlainJsonValue(field[key], std::string("field key '") + key + "'")
                               : TCRVValue{std::monostate{}};
}

TCRVFieldDeclaration FieldFromJson(const json& f) {
    TCRVFieldDeclaration d;
    d.Name = f.at("name").get<std::string>();
    d.Type = TypeFromName(f.at("type").get<std::string>());
    d.Size = f.value("size", 0);
    d.Required = f.value("required", false);
    d.DefaultValue = OptionalValue(f, "default");
    d.MinValue = OptionalValue(f, "min");
    d.MaxValue = OptionalValue(f, "max");
    if (f.contains("blob")) {
        const json& b = f["blob"];
        const std::string alg = b.value("compression", "NONE");
        const auto found = CRVCompressionAlgorithmFromName(alg);
        if (!found)
            throw std::runtime_error("field '" + d.Name + "': unknown compression '" + alg + "'");
        d.BLOBCompressionAlgorithm = static_cast<std::uint8_t>(*found);
        d.BLOBCompressionMode = static_cast<std::uint8_t>(b.value("mode", 0));
        d.BLOBBlockSize = b.value("blockSize", 0);
    }
    if (f.contains("autoinc")) {
        const json& a = f["autoinc"];
        d.AutoincIncrement = a.value("increment", d.AutoincIncrement);
        d.AutoincInitialValue = a.value("initial", d.AutoincInitialValue);
        d.AutoincMinValue = a.value("min", d.AutoincMinValue);
        const std::int64_t max = a.value("max", std::int64_t{0});
        // 0 stands for "no upper limit", as in the declaration's default.
        d.AutoincMaxValue = max == 0 ? std::numeric_limits<std::int64_t>::max() : max;
        d.AutoincCycled = a.value("cycled", false);
    }
    return d;
}

TCRVIndexDeclaration IndexFromJson(const json& i) {
    TCRVIndexDeclaration d;
    d.Name = i.at("name").get<std::string>();
    for (const json& c : i.at("columns")) {
        TCRVIndexColumn col;
        col.FieldName = c.at("field").get<std::string>();
        col.Descending = c.value("descending", false);
        col.CaseInsensitive = c.value("caseInsensitive", false);
        col.MaxIndexedSize = c.value("maxIndexedSize", 0);
        d.Columns.push_back(col);
    }
    d.Unique = i.value("unique", false);
    d.Primary = i.value("primary", false);
    return d;
}

void CreateOneTable(TCRVDatabase& db, const json& t) {
    TCRVTable table(db, t.at("name").get<std::string>());
    for (const json& f : t.at("fields"))
        table.FieldDefs.push_back(FieldFromJson(f));
    if (t.contains("indexes"))
        for (const json& i : t["indexes"])
            table.IndexDefs.push_back(IndexFromJson(i));
    table.CreateTable();
}

json ReadJsonFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read '" + path + "'");
    try {
        return json::parse(in);
    } catch (const json::exception& e) {
        throw std::runtime_error("'" + path + "': " + e.what());
    }
}

// --- apply ---

void ApplyValues(TCRVTable& table, const json& values) {
    if (!values.is_object())
        throw std::runtime_error("\"values\" must be an object");
    for (const auto& [name, v] : values.items()) {
        TCRVField* field = table.FindField(name);
        if (!field)
            throw std::runtime_error("no field '" + name + "' in table '" + table.TableName + "'");
        field->SetValue(JsonToFieldValue(field->Def(), v));
    }
}

std::vector<json> KeyArray(const json& op) {
    const json& key = op.at("key");
    if (!key.is_array())
        throw std::runtime_error("\"key\" must be an array");
    return std::vector<json>(key.begin(), key.end());
}

void ApplyOne(TCRVDatabase& db, const json& op) {
    const std::string kind = op.at("op").get<std::string>();
    TCRVTable table(db, op.at("table").get<std::string>());
    if (kind == "empty") {
        if (!table.Exists())
            throw std::runtime_error("no table '" + table.TableName + "' in the database");
        table.EmptyTable();
        return;
    }
    if (kind == "insert") {
        OpenTable(table, "");
        table.Append();
        ApplyValues(table, op.value("values", json::object()));
        table.Post();
        return;
    }
    if (kind != "update" && kind != "delete")
        throw std::runtime_error("unknown op '" + kind + "' (insert, update, delete or empty)");
    OpenTable(table, op.at("index").get<std::string>());
    if (!GotoKeyValues(table, KeyArray(op)))
        throw std::runtime_error("no row with that key");
    if (kind == "delete") {
        table.Delete();
        return;
    }
    table.Edit();
    ApplyValues(table, op.value("values", json::object()));
    table.Post();
}

} // namespace

int CmdCreateTable(TArgs& args) {
    args.Accept({"password", "schema"});
    TOpenDatabase db(args.Positional(1)[0], args.Get("password", ""), false);
    const json schema = ReadJsonFile(args.Get("schema"));
    if (schema.is_array()) {
        for (const json& t : schema)
            CreateOneTable(db.Db, t);
    } else {
        CreateOneTable(db.Db, schema);
    }
    return KExitOk;
}

int CmdApply(TArgs& args) {
    args.Accept({"password"});
    const auto& pos = args.Positional(2);
    std::ifstream in(pos[1], std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read '" + pos[1] + "'");
    TOpenDatabase db(pos[0], args.Get("password", ""), false);
    std::string line;
    for (int lineNo = 1; std::getline(in, line); ++lineNo) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos)
            continue;
        try {
            ApplyOne(db.Db, json::parse(line));
        } catch (const std::exception& e) {
            throw std::runtime_error("line " + std::to_string(lineNo) + ": " + e.what());
        }
    }
    return KExitOk;
}

int CmdDump(TArgs& args) {
    args.Accept({"password", "index"});
    const auto& pos = args.Positional(2);
    TOpenDatabase db(pos[0], args.Get("password", ""), true);
    TCRVTable table(db.Db, pos[1]);
    table.ReadOnly = true;
    OpenTable(table, args.Get("index", ""));
    for (table.First(); !table.Eof(); table.Next())
        std::printf("%s\n", DumpLine(RowToJson(table)).c_str());
    return KExitOk;
}

int CmdFind(TArgs& args) {
    args.Accept({"password", "index", "key"});
    const auto& pos = args.Positional(2);
    TOpenDatabase db(pos[0], args.Get("password", ""), true);
    TCRVTable table(db.Db, pos[1]);
    table.ReadOnly = true;
    OpenTable(table, args.Get("index"));
    std::vector<json> key;
    for (const std::string& k : args.GetAll("key"))
        key.emplace_back(k);
    if (!GotoKeyValues(table, key))
        return KExitNotFound;
    std::printf("%s\n", DumpLine(RowToJson(table)).c_str());
    return KExitOk;
}

namespace {

ordered_json FieldsJson(TCRVTable& table) {
    ordered_json out = ordered_json::array();
    for (const TCRVFieldDef& f : table.TableFieldDefs()) {
        ordered_json e;
        e["name"] = f.Name;
        e["type"] = std::string(AftToStr(f.AdvancedFieldType));
        e["size"] = f.FieldSize;
        out.push_back(e);
    }
    return out;
}

ordered_json IndexesJson(TCRVTable& table) {
    ordered_json out = ordered_json::array();
    for (const TCRVIndexDef& i : table.TableIndexDefs()) {
        ordered_json e;
        e["name"] = i.Name;
        ordered_json cols = ordered_json::array();
        for (const TCRVIndexColumn& c : i.Columns)
            cols.push_back(c.FieldName);
        e["columns"] = cols;
        e["unique"] = i.Unique;
        e["primary"] = i.Primary;
        e["rootPageNo"] = i.RootPageNo;
        out.push_back(e);
    }
    return out;
}

// The record ids of every row in the order the table's active index gives them.
std::vector<TCRVRecordID> RowIds(TCRVTable& table) {
    std::vector<TCRVRecordID> ids;
    for (table.First(); !table.Eof(); table.Next())
        ids.push_back(table.Bookmark().RecordID);
    return ids;
}

bool RecordIdLess(const TCRVRecordID& a, const TCRVRecordID& b) {
    return CompareRecordID(a, b) < 0;
}

void CheckOneTable(TCRVDatabase& db, const std::string& name, std::vector<std::string>& problems) {
    const std::string where = "table '" + name + "': ";
    TCRVTable table(db, name);
    table.ReadOnly = true;
    table.Open();
    const std::int64_t count = table.RecordCount();
    std::vector<TCRVRecordID> physical = RowIds(table);
    if (static_cast<std::int64_t>(physical.size()) != count)
        problems.push_back(where + "the record count is " + std::to_string(count) + " but " +
                           std::to_string(physical.size()) + " rows were read");
    std::sort(physical.begin(), physical.end(), RecordIdLess);
    if (std::adjacent_find(physical.begin(), physical.end(), [](const auto& a, const auto& b) {
            return CompareRecordID(a, b) == 0;
        }) != physical.end())
        problems.push_back(where + "a row is met twice in physical order");
    std::vector<std::string> indexNames;
    for (const TCRVIndexDef& i : table.TableIndexDefs())
        indexNames.push_back(i.Name);
    for (const std::string& indexName : indexNames) {
        table.SetIndexName(indexName);
        std::vector<TCRVRecordID> inIndex = RowIds(table);
        std::sort(inIndex.begin(), inIndex.end(), RecordIdLess);
        if (inIndex.size() != physical.size() ||
            !std::equal(inIndex.begin(), inIndex.end(), physical.begin(),
                        [](const auto& a, const auto& b) { return CompareRecordID(a, b) == 0; }))
            problems.push_back(where + "index '" + indexName + "' holds " + std::to_string(inIndex.size()) +
                               " entries that do not match the " + std::to_string(physical.size()) +
                               " rows one to one");
    }
    table.Close();
}

// The pages of a page-number index: its tree's pages and the pages its entries name.
void CollectPageIndex(TCRVSessionID sid, TCRVPageIndexAccess& index, const std::string& owner,
                      const std::string& entryOwner, TTablesCheck& out) {
    if (index.RootPageNo() == KCRVNoPage)
        return;
    auto* tree = dynamic_cast<TCRVBTreePageIndexAccess*>(&index);
    if (!tree)
        throw std::runtime_error(owner + " is of a kind the check cannot walk");
    tree->Index().CheckIntegrity(sid);
    for (const TCRVPageNo p : tree->Index().Tree().CollectPages(sid))
        out.Owners.emplace_back(p, owner);
    for (auto item = index.GetFirst(sid); item; item = index.GetNext(sid, item->PageNo, 20111))
        out.Owners.emplace_back(item->PageNo, entryOwner);
}

// The pages of every large BLOB value the rows refer to.
void CollectLargeBlobs(TCRVSessionID sid, TCRVTableData& table, const std::string& owner, TTablesCheck& out) {
    std::vector<const TCRVFieldDef*> blobFields;
    for (const TCRVFieldDef& f : table.FieldDefs())
        if (IsBLOBFieldType(f.BaseFieldType))
            blobFields.push_back(&f);
    if (blobFields.empty())
        return;
    TCRVPageManager& pm = table.Database().PageManager();
    TCRVLargeBlob large(pm, sid, table.TableID());
    std::vector<std::byte> record(static_cast<std::size_t>(table.RecordSize()));
    TCRVNavigationInfo info;
    info.RecordBuffer = record;
    info.FirstPosition = true;
    while (table.FetchPhysical(sid, info) == grrOK) {
        info.FirstPosition = false;
        for (const TCRVFieldDef* f : blobFields) {
            if (CheckNullFlag(f->FieldNoReference, record))
                continue;
            TCRVPageItemID ref{};
            std::memcpy(&ref, record.data() + f->MemoryOffset, sizeof ref);
            if (ref.PageNo <= 0)
                continue;
            const bool isLarge =
                ref.PageItemNo == KCRVLargeBlobItemNo ||
                (ref.PageItemNo == KCRVAmbiguousBlobItemNo && large.LooksLikeFirstPage(ref.PageNo));
            if (isLarge)
                for (const TCRVPageNo p : large.PageNos(ref.PageNo))
                    out.Owners.emplace_back(p, owner + ", a large BLOB of field '" + f->Name + "'");
        }
    }
}

void CollectTablePages(TCRVLocalSession& handle, const std::string& name, TTablesCheck& out) {
    TCRVTableData& table = handle.OpenTable(name, false);
    struct TRelease {
        TCRVLocalSession& Handle;
        const std::string& Name;
        ~TRelease() { Handle.CloseTable(Name); }
    } release{handle, name};
    TCRVDatabaseLock lock(table.Database());
    const TCRVSessionID sid = handle.SessionID();
    const std::string owner = "table '" + name + "'";
    TCRVDiskTableData& data = table.Data();
    try {
        data.RecordManager().ValidateRecordPageIndex(sid);
    } catch (const std::exception& e) {
        out.Problems.push_back(owner + ": the record page index does not match the row count: " + e.what());
    }
    CollectPageIndex(sid, data.RecordManager().RecordPageIndex(), owner + ", the record page index",
                     owner + ", a record page", out);
    if (data.BlobManager().BlobPageIndexRoot() != KCRVNoPage)
        CollectPageIndex(sid, data.BlobManager().BlobPageIndex(), owner + ", the BLOB page index",
                         owner + ", a small-BLOB page", out);
    CollectLargeBlobs(sid, table, owner, out);
    for (const TCRVIndexDef& def : table.IndexDefs()) {
        const std::string indexOwner = owner + ", index '" + def.Name + "'";
        try {
            TCRVBTreeRecordIndex* index = table.IndexManager().FindOpenIndex(def.ObjectID);
            if (!index)
                index = &table.IndexManager().OpenIndex(def.ObjectID);
            const TCRVBTreeIntegrityInfo integrity = index->CheckIntegrity(sid);
            if (integrity.EntryCount != table.RecordCount())
                out.Problems.push_back(indexOwner + " holds " + std::to_string(integrity.EntryCount) +
                                       " entries for " + std::to_string(table.RecordCount()) + " rows");
            for (const TCRVPageNo p : index->Tree().CollectPages(sid))
                out.Owners.emplace_back(p, indexOwner);
        } catch (const std::exception& e) {
            out.Problems.push_back(indexOwner + ": " + e.what());
        }
    }
}

} // namespace

ordered_json TableDetails(const std::string& path, const std::string& password) {
    TOpenDatabase db(path, password, true);
    ordered_json out = ordered_json::array();
    for (const std::string& name : db.Db.GetTableNames()) {
        ordered_json e;
        e["name"] = name;
        try {
            TCRVTable table(db.Db, name);
            table.ReadOnly = true;
            table.Open();
            e["fields"] = FieldsJson(table);
            e["indexes"] = IndexesJson(table);
            e["rowCount"] = table.RecordCount();
        } catch (const std::exception& ex) {
            // A table that cannot be opened is shown with the reason; the others still are.
            e["error"] = ex.what();
        }
        out.push_back(e);
    }
    return out;
}

TTablesCheck CheckTables(const std::string& path, const std::string& password) {
    TTablesCheck result;
    TOpenDatabase db(path, password, true);
    for (const std::string& name : db.Db.GetTableNames()) {
        try {
            CollectTablePages(db.Db.Handle(), name, result);
            CheckOneTable(db.Db, name, result.Problems);
        } catch (const std::exception& e) {
            result.Problems.push_back("table '" + name + "': " + e.what());
        }
    }
    return result;
}
