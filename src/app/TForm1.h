#pragma once

#include "clock/SystemClock.h"
#include "clock/SystemTimeZoneList.h"
#include "config/ConfigStore.h"
#include "cycle/Agent.h"
#include "cycle/AgentHost.h"

#include <QSystemTrayIcon>
#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QStandardItemModel;
class QTableView;

/// The main window "ASP Update": what the cycle is doing, the remote outbox rows waiting for
/// this computer, the address entry when it is missing, and the cycle interval. Creating it runs
/// the start-up sequence. Its close box only hides it into the tray; the Close button ends the
/// program.
class TForm1 : public QWidget, public AgentHost
{
    Q_OBJECT

public:
    /// An empty `machineName` means this computer's network name.
    explicit TForm1(ConfigStore config, const QString& machineName = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    Agent* agent() const { return m_agent; }
    QSystemTrayIcon* trayIcon() const { return m_tray; }
    /// Whether the start-up ended the program, and how.
    bool ending() const { return m_ending; }
    ExitStatus exitStatus() const { return m_exitStatus; }

    /// Brings the program forward at a later copy's request: its open dialog if there is one,
    /// else `window` restored from the tray or from being minimised.
    static void bringForward(QWidget* window);

    bool FormCloseQuery();

    void showMessage(const QString& text) override;
    std::optional<LoginAnswer> askLocalLogin() override;
    std::optional<NetLoginValues> askRemoteLogin() override;
    void endProgram(ExitStatus status) override;

Q_SIGNALS:
    /// The program should end with `status`: the Close button, or a start-up that cannot go on.
    void ended(int status);

public Q_SLOTS:
    void FormShow();
    void BitBtn1Click();
    void Button1Click();
    void btnChangeClick();

protected:
    /// Whether the desktop has a notification area to hide the window into.
    virtual bool trayAvailable() const;

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    /// Connects what the agent and its engine report to the controls that show it.
    void connectAgent();
    void showEntry(Agent::Entry entry);
    void hideEntries();
    void showTableLists(
        const QStringList& remoteTables, const QStringList& localTables, const QStringList& remoteProcedures);
    /// The grid shows the outbox rows the cycle read; the status line its summary and failure,
    /// the tray icon whether it failed and why.
    void showCycleResult(bool completed);
    /// While a cycle runs: the caption, the status line and the tray tooltip say what it is doing
    /// and how far it is.
    void showProgress(const QString& text, int percent);
    void trayActivated(QSystemTrayIcon::ActivationReason reason);

    QTableView* m_grid;
    QStandardItemModel* m_outbox;
    QLabel* m_status;
    QLabel* m_label1;
    QLabel* m_label2;
    QProgressBar* m_gauge;
    QLabel* m_label3;
    QLineEdit* m_address;
    QLabel* m_label4;
    QLineEdit* m_port;
    QPushButton* m_connect;
    QSpinBox* m_interval;
    QPushButton* m_change;
    QPushButton* m_close;
    QListWidget* m_remoteTables;
    QListWidget* m_localTables;
    QListWidget* m_remoteProcedures;
    QListWidget* m_restructure;
    QSystemTrayIcon* m_tray;
    SystemClock m_clock;
    SystemTimeZoneList m_zones;
    Agent* m_agent;

    bool m_closing = false;
    bool m_ending = false;
    ExitStatus m_exitStatus = ExitStatus::Completed;
};
