#pragma once

#include <QString>
#include <QVariantList>

namespace db::sqlite {

/// The text with the literals of its WHERE clauses turned into placeholders (":#0", ":#1", ...),
/// their values in `literals`: the per-row probes and lookups of a table then share one form.
/// Only plain statements are touched; a literal that the adapter reads (TOP n) or that SQLite
/// needs as written (x'..', ORDER BY n) stays.
QString literalShape(const QString& tsql, QVariantList* literals);

} // namespace db::sqlite
