#pragma once

#include <QString>
#include <stdexcept>

namespace db {

/// A failure of the database client layer. The message is the engine's own text, prefixed by what
/// the layer was doing when it failed, so an operator can tell which statement or object broke.
/// The SQL state is the ODBC diagnostic's five-character code; the embedded engine gives the code
/// of the ODBC state that means the same (see sqliteState()).
class DbError : public std::runtime_error
{
public:
    /// What a failure says about the database behind it, read from the SQL state.
    enum class Cause {
        Other,
        /// The server did not answer or could not be reached (08001, 08S01, HYT00, HYT01).
        Unreachable,
        /// The server answered and refused the login (28000).
        LoginRefused,
        /// The database file is damaged or is not a database (XX001).
        Corrupt,
    };

    explicit DbError(const QString& message, const QString& sqlState = {});

    QString message() const { return m_message; }
    QString sqlState() const { return m_sqlState; }
    Cause cause() const;
    /// Whether the database refused this one statement for what it holds (a value, a constraint,
    /// a trigger: SQL state classes 21, 22, 23, 25, 27, 40, 42 and 44) while the connection is
    /// fine, so that the next statement may well succeed. A missing table or column (42S..) fails
    /// every statement alike and is not such a refusal, nor is a failure without a state.
    bool refusesStatementOnly() const;

    /// The SQL state for an SQLite result code (primary or extended): 08001 for a file that
    /// cannot be opened, XX001 for a damaged file or one that is not a database, HYT00 for a
    /// busy time-out, 23000 for a constraint or a trigger's refusal, 22001 for a value too big,
    /// 22018 for a value of the wrong type; empty for the others.
    static QString sqliteState(int resultCode);

private:
    QString m_message;
    QString m_sqlState;
};

} // namespace db
