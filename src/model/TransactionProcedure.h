#pragma once

#include <QString>

/// The embedded engine's form of the remote transaction procedure sp_CorvaneTran: it moves the
/// remote bin's stock as the transaction says and stores the transaction, in one transaction.
class TransactionProcedure
{
public:
    enum class Version {
        /// The agent's own definition: parameters 1 to 38 and @ComputerName, and @ExternalPO
        /// (accepted with a NULL default, not stored) so that a push can always set it.
        AgentOwn,
        /// A hosted database's newer procedure that also takes and stores @DiscrepantQty,
        /// @OGTranNo and @ExternalPO.
        Hosted,
    };

    static QString name() { return QStringLiteral("sp_CorvaneTran"); }
    /// The T-SQL definition the agent creates on a remote database that lacks the procedure.
    static QString createText();
    /// Registers the agent's own definition as the embedded engine's equivalent of createText().
    static void registerEmbeddedEquivalent();
    static QString parameters(Version version);
    static QString body(Version version);
};
