#pragma once

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

/// Another program's own connection to an embedded database file, past the agent's client layer:
/// for triggers its dialect does not take, and for locks held while the agent works.
class RawConnection
{
public:
    explicit RawConnection(const QString& file)
        : m_name(QStringLiteral("raw-%1").arg(quintptr(this)))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(file);
        db.open();
    }
    ~RawConnection()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    /// False, with the statement and the error as a warning, when the statement failed.
    bool exec(const QString& sql)
    {
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        const bool ok = query.exec(sql);
        if (!ok)
            qWarning() << sql << query.lastError().text();
        return ok;
    }

private:
    QString m_name;
};
