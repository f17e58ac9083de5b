#pragma once

struct CycleContext;

namespace db {
class RowQuery;
}

/// Hands one local stock transaction to the remote procedure sp_CorvaneTran, which moves the
/// remote bin's stock and stores the transaction in one server-side transaction.
class TransactionPush
{
public:
    explicit TransactionPush(CycleContext& context)
        : m_context(context)
    { }

    /// Sends the current row of `transaction` through the cycle's procedure call. Returns true
    /// when the procedure returned 0. On false, `errorFlag` tells whether a failure was raised
    /// (the caller then runs the common handler); either way the failure has been reported.
    bool PushTransaction(const db::RowQuery& transaction, bool& errorFlag);

private:
    CycleContext& m_context;
};
