#pragma once

#include <QString>

/// What the push and the apply need to know about a crib table beyond its columns.
class TableRules
{
public:
    /// The picture tables, whose delete orders are accepted without any local change.
    static bool isPictureTable(const QString& tableName);
};
