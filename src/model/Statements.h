#pragma once

#include <QString>
#include <QStringList>

/// Joins statement lines the way the catalogue stores multi-line texts: each line followed by a
/// carriage return and line feed.
QString joinLines(const QStringList& lines);
