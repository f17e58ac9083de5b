#include "model/TableRules.h"

#include <QStringList>

bool TableRules::isPictureTable(const QString& tableName)
{
    static const QStringList pictures = {"ITEMIMAGE", "CLASSIMAGE", "EMPIMAGE"};
    return pictures.contains(tableName.toUpper());
}
