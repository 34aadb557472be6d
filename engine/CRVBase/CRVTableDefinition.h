// Turning a table's declared columns and indexes into the engine's definitions, as a new table
// gets them: the declarations are corrected and checked, and the constraints they imply are
// added. Object ids, the table's name in the constraints and the names of unnamed constraints
// are given later, when the table's files are made.
#pragma once

#include "CRVBase/CRVConstraintDef.h"
#include "CRVBase/CRVFieldDef.h"
#include "CRVBase/CRVIndexDef.h"
#include "CRVTypes/CRVVariant.h"

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// A column as the creator of a table declares it.
struct TCRVFieldDeclaration {
    std::string Name{};
    TCRVAdvancedFieldType Type = TCRVAdvancedFieldType::aftUnknown;
    std::int32_t Size = 0;
    bool Required = false;
    TCRVValue DefaultValue{};
    TCRVValue MinValue{};
    TCRVValue MaxValue{};
    std::uint8_t BLOBCompressionAlgorithm = 0; // 0: stored as is
    std::uint8_t BLOBCompressionMode = 0;
    std::int32_t BLOBBlockSize = 0; // 0 or less: the default block size
    std::int64_t AutoincIncrement = 1;
    std::int64_t AutoincInitialValue = 0;
    std::int64_t AutoincMinValue = 0;
    std::int64_t AutoincMaxValue = std::numeric_limits<std::int64_t>::max();
    bool AutoincCycled = false;
};

struct TCRVIndexDeclaration {
    std::string Name{};
    std::vector<TCRVIndexColumn> Columns{};
    bool Unique = false;
    bool Primary = false;
};

struct TCRVTableDefinition {
    TCRVFieldDefs Fields;
    TCRVIndexDefs Indexes;
    TCRVConstraintDefs Constraints;
};

constexpr std::int32_t CRVGuidFieldSize = 38;

// Corrects and checks the declarations and builds the definitions:
//  - defaults and limits take the field's base type (an empty text default becomes NULL; a value
//    that does not fit raises 30054); sizes of types without one become 0, a GUID's 38;
//  - no name raises 30499; a text, GUID or bytes field without a size above 0 raises 30453; a
//    compressed BLOB field whose mode is not 1..9 raises 20257;
//  - names are cut to 255 bytes; a BLOB block size of 0 or less becomes the default;
//  - unless temporary, a required field adds a not-null constraint and a field with a minimum or
//    maximum a check constraint with both;
//  - an index column keeps its MaxIndexedSize only when it is above 0 and its field is a text or
//    bytes field, every other column gets 20;
//  - a primary index adds a primary-key constraint "C_PK$col..." (also when it is unique), a
//    unique one a unique constraint "C_Unique$col...", each naming its index and columns.
TCRVTableDefinition CRVBuildTableDefinition(std::string_view tableName,
                                            std::span<const TCRVFieldDeclaration> fields,
                                            std::span<const TCRVIndexDeclaration> indexes,
                                            bool temporary = false);

// The first `maxBytes` bytes of a UTF-8 name, not cutting a character.
std::string CRVCutName(std::string_view name, std::size_t maxBytes = 255);
