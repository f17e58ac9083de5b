#pragma once

#include <QList>
#include <QString>
#include <QStringList>
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

/// Statements whose text holds more than the one statement the agent meant: a comment, a second
/// statement after a semicolon, or a DROP, ATTACH, PRAGMA, ALTER or CREATE outside literals.
QStringList statementsBeyondIntent(const QStringList& traced);
