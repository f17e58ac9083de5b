#include "app/TForm1.h"

#include "app/CrashReport.h"
#include "app/MessageBox.h"
#include "app/TfmLogin.h"
#include "app/TfmNetLogin.h"
#include "cycle/Agent.h"
#include "cycle/CycleLog.h"
#include "cycle/SyncEngine.h"
#include "db/RowQuery.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>
#include <limits>

namespace {

const QString kCaption = QStringLiteral("ASP Update");

template <typename Widget> Widget* named(Widget* widget, const char* objectName)
{
    widget->setObjectName(QLatin1String(objectName));
    return widget;
}

} // namespace

TForm1::TForm1(ConfigStore config, const QString& machineName, QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(kCaption);
    // A tool window gets no task-bar button: the program is reached through its tray icon.
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
        | Qt::WindowCloseButtonHint);
    buildControls();
    resize(657, 369);

    m_tray = new QSystemTrayIcon(windowIcon(), this);
    m_tray->setObjectName(QStringLiteral("abcTrayIcon1"));
    m_tray->setToolTip(windowTitle());
    connect(m_tray, &QSystemTrayIcon::activated, this, &TForm1::trayActivated);

#ifndef QT_NO_SESSIONMANAGER
    // Logging off ends the program instead of hiding the window.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { m_closing = true; });
#endif

    m_agent = new Agent(std::move(config), this, &m_clock, &m_zones, machineName, this);
    connectAgent();
    CrashReport::setLog([this](const QString& text) { m_agent->log().note(text); });
    CrashReport::guard([this] { m_agent->FormCreate(); });
    if (!m_ending)
        CrashReport::guard([this] { m_agent->DataModuleCreate(); });
}

TForm1::~TForm1()
{
    CrashReport::setLog({});
}

void TForm1::buildControls()
{
    setWindowIcon(style()->standardIcon(QStyle::SP_BrowserReload));

    m_grid = named(new QTableView(this), "DBGrid1");
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_outbox = new QStandardItemModel(this);
    m_grid->setModel(m_outbox);

    m_status = named(new QLabel(QStringLiteral("No cycle has run yet."), this), "StatusLine");
    m_status->setTextFormat(Qt::PlainText);
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_label1 = named(new QLabel(QStringLiteral("Quellora to ASP Processing Table:"), this), "Label1");
    m_label2 = named(new QLabel(QStringLiteral("waiting..."), this), "Label2");
    m_gauge = named(new QProgressBar(this), "Gauge1");
    m_gauge->setRange(0, 100);
    m_gauge->setValue(0);
    m_gauge->setStyleSheet(QStringLiteral("QProgressBar::chunk { background-color: blue; }"));

    m_label3 = named(new QLabel(QStringLiteral("IP Address:"), this), "Label3");
    m_address = named(new QLineEdit(this), "Edit1");
    m_label4 = named(new QLabel(QStringLiteral("Port"), this), "Label4");
    m_port = named(new QLineEdit(this), "edPort");
    m_connect = named(new QPushButton(QStringLiteral("Connect"), this), "Button1");
    for (QWidget* hidden : std::initializer_list<QWidget*>{m_label3, m_address, m_label4, m_port, m_connect})
        hidden->hide();
    connect(m_connect, &QPushButton::clicked, this, &TForm1::Button1Click);

    auto* label5 = named(new QLabel(QStringLiteral("Run Time in seconds:"), this), "Label5");
    m_interval = named(new QSpinBox(this), "edtime");
    m_interval->setButtonSymbols(QAbstractSpinBox::NoButtons);
    m_interval->setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    m_change = named(new QPushButton(QStringLiteral("Change"), this), "btnChange");
    connect(m_change, &QPushButton::clicked, this, &TForm1::btnChangeClick);
    m_close = named(
        new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton), QStringLiteral("Close"), this), "BitBtn1");
    connect(m_close, &QPushButton::clicked, this, &TForm1::BitBtn1Click);

    m_remoteTables = named(new QListWidget(this), "ListBox1");
    m_localTables = named(new QListWidget(this), "ListBox2");
    m_remoteProcedures = named(new QListWidget(this), "ListBox3");
    m_restructure = named(new QListWidget(this), "LBRestructure");
    for (QWidget* hidden :
        std::initializer_list<QWidget*>{m_remoteTables, m_localTables, m_remoteProcedures, m_restructure})
        hidden->hide();

    auto* progressLine = new QHBoxLayout;
    progressLine->addWidget(m_label1);
    progressLine->addWidget(m_label2, 1);

    auto* addressLine = new QHBoxLayout;
    addressLine->addWidget(m_label3);
    addressLine->addWidget(m_address, 2);
    addressLine->addWidget(m_label4);
    addressLine->addWidget(m_port, 1);
    addressLine->addWidget(m_connect);
    addressLine->addStretch(1);

    auto* intervalLine = new QHBoxLayout;
    intervalLine->addWidget(label5);
    intervalLine->addWidget(m_interval);
    intervalLine->addWidget(m_change);
    intervalLine->addStretch(1);
    intervalLine->addWidget(m_close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_grid, 1);
    layout->addWidget(m_status);
    layout->addLayout(progressLine);
    layout->addWidget(m_gauge);
    layout->addLayout(addressLine);
    layout->addLayout(intervalLine);
}

void TForm1::connectAgent()
{
    connect(m_agent, &Agent::cycleFinished, this, &TForm1::showCycleResult);
    connect(m_agent, &Agent::entryShown, this, &TForm1::showEntry);
    connect(m_agent, &Agent::trayIconShown, m_tray, &QSystemTrayIcon::show);
    connect(m_agent, &Agent::intervalShown, m_interval, &QSpinBox::setValue);
    connect(m_agent, &Agent::changeEnabledChanged, m_change, &QPushButton::setEnabled);

    const SyncEngine* engine = &m_agent->engine();
    connect(engine, &SyncEngine::progressCaptionChanged, m_label1, &QLabel::setText);
    connect(engine, &SyncEngine::progressTextChanged, m_label2, &QLabel::setText);
    connect(engine, &SyncEngine::progressChanged, m_gauge, [this](int position, int maximum) {
        m_gauge->setMaximum(maximum);
        m_gauge->setValue(position);
    });
    // Directly, so that the Close button and the timer are served while a step works.
    connect(
        engine, &SyncEngine::eventsDue, this, [] { QCoreApplication::processEvents(); }, Qt::DirectConnection);
    connect(engine, &SyncEngine::changeEnabledChanged, m_change, &QPushButton::setEnabled);
    connect(engine, &SyncEngine::entriesHidden, this, &TForm1::hideEntries);
    connect(engine, &SyncEngine::trayIconShown, m_tray, &QSystemTrayIcon::show);
    connect(engine, &SyncEngine::tableListsChanged, this, &TForm1::showTableLists);
    connect(engine, &SyncEngine::progressReported, this, &TForm1::showProgress);
}

void TForm1::bringForward(QWidget* window)
{
    if (QWidget* dialog = QApplication::activeModalWidget()) {
        dialog->raise();
        dialog->activateWindow();
        return;
    }
    if (!window)
        return;
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
}

bool TForm1::trayAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TForm1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    FormShow();
}

void TForm1::FormShow()
{
    m_interval->setValue(m_agent->SyncIntervalSeconds());
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // The close box only hides the window into the tray, and the icon is shown so that the
    // window can be reached again. Without a tray that would lose the window: close instead.
    if (!m_closing && trayAvailable()) {
        m_tray->show();
        hide();
        event->ignore();
        return;
    }
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    event->accept();
    Q_EMIT ended(static_cast<int>(ExitStatus::Completed));
}

bool TForm1::FormCloseQuery()
{
    m_tray->hide();
    return true;
}

void TForm1::BitBtn1Click()
{
    m_closing = true;
    close();
}

// The handlers report their own failures, so that none unwinds through the widgets' event code.
void TForm1::Button1Click()
{
    CrashReport::guard([this] { m_agent->Button1Click(m_address->text(), m_port->text()); });
}

void TForm1::btnChangeClick()
{
    m_interval->interpretText();
    CrashReport::guard([this] { m_agent->btnChangeClick(m_interval->value()); });
}

void TForm1::showCycleResult(bool completed)
{
    db::RowQuery rows = m_agent->engine().outboxRows();
    m_outbox->clear();
    if (rows.isOpen()) {
        m_outbox->setHorizontalHeaderLabels(rows.columnNames());
        for (rows.first(); !rows.eof(); rows.next()) {
            QList<QStandardItem*> items;
            for (int column = 0; column < rows.columnCount(); ++column)
                items << new QStandardItem(db::valueText(rows.value(column)));
            m_outbox->appendRow(items);
        }
    }
    const CycleLog& log = m_agent->log();
    // A failure is told only while the cycle that caught it is the last one.
    QString failure = log.failuresThisCycle() > 0
        ? QStringLiteral("\nLast failure: ") + CycleLog::printable(log.lastFailure())
        : QString();
    if (!log.problem().isEmpty())
        failure += QLatin1Char('\n') + CycleLog::printable(log.problem());
    // What is stuck is told as long as it is.
    const QString stuck = log.stuckText();
    const QString standstill = stuck.isEmpty() ? QString() : QLatin1Char('\n') + CycleLog::printable(stuck);
    m_status->setText(log.lastSummaryLine() + failure + standstill);
    m_status->setStyleSheet(completed && stuck.isEmpty() ? QString() : QStringLiteral("color: #b00000;"));
    setWindowTitle(kCaption);
    const QString tip = kCaption + QLatin1Char('\n') + log.lastSummary() + failure + standstill;
    m_tray->setIcon(completed ? windowIcon() : style()->standardIcon(QStyle::SP_MessageBoxWarning));
    m_tray->setToolTip(tip);
    m_grid->setToolTip(tip);
}

void TForm1::showProgress(const QString& text, int percent)
{
    if (text.isEmpty())
        return;
    // The last cycle's summary stays below, so that what happened before is not hidden for hours.
    const QString last = m_agent->log().lastSummaryLine();
    m_status->setText(
        QStringLiteral("Cycle running: ") + text + (last.isEmpty() ? QString() : QLatin1Char('\n') + last));
    m_status->setStyleSheet(QString());
    setWindowTitle(percent >= 0
            ? QStringLiteral("%1 - %2 %3%").arg(kCaption, text.section(QLatin1Char(':'), 0, 0)).arg(percent)
            : kCaption);
    m_tray->setToolTip(kCaption + QLatin1Char('\n') + text);
}

void TForm1::trayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::DoubleClick)
        bringForward(this);
}

void TForm1::showMessage(const QString& text)
{
    MessageBox::information(this, text);
}

std::optional<LoginAnswer> TForm1::askLocalLogin()
{
    TfmLogin dialog(this);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    // A dialog nobody closed was ended with the program's event loops.
    if (!dialog.closed())
        return std::nullopt;
    return LoginAnswer{dialog.values(), accepted};
}

std::optional<NetLoginValues> TForm1::askRemoteLogin()
{
    TfmNetLogin dialog(this);
    dialog.exec();
    if (!dialog.closed())
        return std::nullopt;
    return dialog.values();
}

void TForm1::showEntry(Agent::Entry entry)
{
    if (entry == Agent::Entry::Address) {
        m_label3->show();
        m_address->show();
    } else {
        m_label4->show();
        m_port->show();
    }
    m_connect->show();
}

void TForm1::hideEntries()
{
    for (QWidget* widget : std::initializer_list<QWidget*>{m_label3, m_address, m_port, m_label4, m_connect})
        widget->hide();
}

void TForm1::showTableLists(
    const QStringList& remoteTables, const QStringList& localTables, const QStringList& remoteProcedures)
{
    const auto fill = [](QListWidget* list, const QStringList& names) {
        list->clear();
        list->addItems(names);
    };
    fill(m_remoteTables, remoteTables);
    fill(m_localTables, localTables);
    fill(m_remoteProcedures, remoteProcedures);
}

void TForm1::endProgram(ExitStatus status)
{
    m_ending = true;
    m_exitStatus = status;
    m_tray->hide();
    hide();
    Q_EMIT ended(static_cast<int>(status));
}
