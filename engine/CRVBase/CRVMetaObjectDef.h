// What every stored definition (field, index, constraint) has: a name and the database-wide
// object id.
#pragma once

#include <cstdint>
#include <string>

class TCRVMetaObjectDef {
public:
    std::string Name; // at most 255 single-byte (UTF-8) characters
    std::int32_t ObjectID = -1;
    std::string SchemaName;
    std::int32_t SchemaID = -1;
};
