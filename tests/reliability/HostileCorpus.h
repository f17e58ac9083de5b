#pragma once

#include <QList>
#include <QString>
#include <QVariant>

/// One value people or other programs might type into a crib database.
struct HostileValue
{
    QString label;
    QVariant value; // a QString, or a null QVariant
};

/// Quotes, brackets, semicolons, comment markers, statements of their own, Unicode, control
/// characters, a 10,000-character text, NULL and numbers out of any column's range.
QList<HostileValue> hostileCorpus();
