#include "scrobblewindow/ScrobbleDialog.h"

#include "scrobble/LastFmClient.h"
#include "scrobble/ListenBrainzClient.h"
#include "scrobble/ScrobbleAccounts.h"
#include "scrobble/Scrobbler.h"
#include "store/ProgramEntry.h"
#include "store/ProgramIndex.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString kListenBrainz = QString::fromLatin1(ListenBrainzClient::kService);
const QString kLastFm = QString::fromLatin1(LastFmClient::kService);

template <typename W> W *named(W *widget, const char *name, const QString &accessible)
{
    widget->setObjectName(QLatin1String(name));
    widget->setAccessibleName(accessible);
    return widget;
}

} // namespace

QString ScrobbleDialog::queueText(int waiting, ScrobbleSender::Status status)
{
    const QString count = waiting == 1 ? QStringLiteral("1 listen waiting")
                                       : QStringLiteral("%1 listens waiting").arg(waiting);
    switch (status) {
    case ScrobbleSender::Status::Stopped:
        return count + QStringLiteral(": the account was refused; connect again");
    case ScrobbleSender::Status::Waiting: return count + QStringLiteral(": offline");
    case ScrobbleSender::Status::Sending: return count + QStringLiteral(": sending");
    case ScrobbleSender::Status::Idle: break;
    }
    return waiting ? count : QStringLiteral("Every listen sent");
}

ScrobbleDialog::ScrobbleDialog(Scrobbler *scrobbler, ScrobbleAccounts *accounts, QWidget *parent)
    : QDialog(parent), m_scrobbler(scrobbler), m_accounts(accounts)
{
    setObjectName(QStringLiteral("scrobbleDialog"));
    setWindowTitle(QStringLiteral("Scrobbling"));
    auto *layout = new QVBoxLayout(this);
    m_keyring = named(new QLabel(this), "keyringError", QStringLiteral("Keyring"));
    m_keyring->setWordWrap(true);
    layout->addWidget(m_keyring);

    auto *lb = named(new QGroupBox(QStringLiteral("ListenBrainz"), this), "listenBrainzBox",
                     QStringLiteral("ListenBrainz"));
    auto *lbForm = new QFormLayout(lb);
    m_lbAccount = named(new QLabel(lb), "listenBrainzAccount", QStringLiteral("Account"));
    m_lbAddress = named(new QLineEdit(lb), "listenBrainzAddress", QStringLiteral("Server"));
    m_lbAddress->setText(accounts->listenBrainzAddress().toString());
    m_lbToken = named(new QLineEdit(lb), "listenBrainzToken", QStringLiteral("User token"));
    m_lbToken->setEchoMode(QLineEdit::Password);
    m_lbConnect = named(new QPushButton(QStringLiteral("Connect"), lb), "listenBrainzConnect",
                        QStringLiteral("Connect to ListenBrainz"));
    m_lbDisconnect =
        named(new QPushButton(QStringLiteral("Disconnect"), lb), "listenBrainzDisconnect",
              QStringLiteral("Disconnect from ListenBrainz"));
    m_lbQueue = named(new QLabel(lb), "listenBrainzQueue", QStringLiteral("ListenBrainz queue"));
    auto *lbButtons = new QHBoxLayout;
    lbButtons->addWidget(m_lbConnect);
    lbButtons->addWidget(m_lbDisconnect);
    lbForm->addRow(QStringLiteral("Account:"), m_lbAccount);
    lbForm->addRow(QStringLiteral("Server:"), m_lbAddress);
    lbForm->addRow(QStringLiteral("User token:"), m_lbToken);
    lbForm->addRow(lbButtons);
    lbForm->addRow(m_lbQueue);
    layout->addWidget(lb);

    auto *fm = named(new QGroupBox(QStringLiteral("Last.fm"), this), "lastFmBox",
                     QStringLiteral("Last.fm"));
    auto *fmForm = new QFormLayout(fm);
    m_lastFmAccount = named(new QLabel(fm), "lastFmAccount", QStringLiteral("Account"));
    m_lastFmConnect = named(new QPushButton(QStringLiteral("Connect…"), fm), "lastFmConnect",
                            QStringLiteral("Connect to Last.fm in the browser"));
    m_lastFmFinish = named(new QPushButton(QStringLiteral("Finish Connecting"), fm), "lastFmFinish",
                           QStringLiteral("Finish connecting to Last.fm"));
    m_lastFmDisconnect = named(new QPushButton(QStringLiteral("Disconnect"), fm),
                               "lastFmDisconnect", QStringLiteral("Disconnect from Last.fm"));
    m_lastFmQueue = named(new QLabel(fm), "lastFmQueue", QStringLiteral("Last.fm queue"));
    auto *fmButtons = new QHBoxLayout;
    fmButtons->addWidget(m_lastFmConnect);
    fmButtons->addWidget(m_lastFmFinish);
    fmButtons->addWidget(m_lastFmDisconnect);
    fmForm->addRow(QStringLiteral("Account:"), m_lastFmAccount);
    fmForm->addRow(fmButtons);
    fmForm->addRow(m_lastFmQueue);
    layout->addWidget(fm);

    // Every program of the list, checked when never scrobbled.
    auto *excludedLabel = named(new QLabel(QStringLiteral("Do not scrobble:"), this),
                                "excludedLabel", QStringLiteral("Do not scrobble"));
    m_excluded = named(new QListWidget(this), "excludedStations",
                       QStringLiteral("Stations never scrobbled"));
    excludedLabel->setBuddy(m_excluded);
    for (const programindex::Program &p : programindex::programs()) {
        auto *item = new QListWidgetItem(program::name(p.entry), m_excluded);
        item->setData(Qt::UserRole, program::url(p.entry));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    }
    m_loves = named(new QCheckBox(QStringLiteral("Send loved songs"), this), "sendLoves",
                    QStringLiteral("Send loved songs"));
    m_loves->setChecked(accounts->sendsLoves());
    layout->addWidget(excludedLabel);
    layout->addWidget(m_excluded);
    layout->addWidget(m_loves);
    auto *buttons = named(new QDialogButtonBox(QDialogButtonBox::Close, this), "buttons",
                          QStringLiteral("Buttons"));
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    connect(m_lbConnect, &QPushButton::clicked, this, &ScrobbleDialog::connectListenBrainz);
    connect(m_lbDisconnect, &QPushButton::clicked, this, [this] {
        m_lbMessage.clear();
        m_accounts->disconnectService(kListenBrainz);
    });
    connect(m_lastFmConnect, &QPushButton::clicked, this, &ScrobbleDialog::beginLastFm);
    connect(m_lastFmFinish, &QPushButton::clicked, this, &ScrobbleDialog::finishLastFm);
    connect(m_lastFmDisconnect, &QPushButton::clicked, this, [this] {
        m_lastFmMessage.clear();
        m_accounts->disconnectService(kLastFm);
    });
    connect(m_excluded, &QListWidget::itemChanged, this, [this](QListWidgetItem *item) {
        m_accounts->setExcluded(item->data(Qt::UserRole).toString(),
                                item->checkState() == Qt::Checked);
    });
    connect(m_loves, &QCheckBox::toggled, m_accounts, &ScrobbleAccounts::setSendsLoves);
    connect(accounts, &ScrobbleAccounts::accountsChanged, this, &ScrobbleDialog::refresh);
    connect(accounts, &ScrobbleAccounts::keyringErrorChanged, this, &ScrobbleDialog::refresh);
    connect(scrobbler, &Scrobbler::servicesChanged, this, &ScrobbleDialog::followSenders);
    followSenders();
}

void ScrobbleDialog::followSenders()
{
    for (const QString &service : {kListenBrainz, kLastFm}) {
        if (ScrobbleSender *sender = m_scrobbler->sender(service)) {
            connect(sender, &ScrobbleSender::statusChanged, this, &ScrobbleDialog::refresh,
                    Qt::UniqueConnection);
            connect(sender, &ScrobbleSender::waitingChanged, this, &ScrobbleDialog::refresh,
                    Qt::UniqueConnection);
        }
    }
    refresh();
}

void ScrobbleDialog::refresh()
{
    const QString keyring = m_accounts->keyringError();
    m_keyring->setText(keyring.isEmpty()
                           ? QString()
                           : QStringLiteral("The keyring could not be reached (%1): a token "
                                            "entered is used until Orbitune quits, not kept.")
                                 .arg(keyring));
    m_keyring->setVisible(!keyring.isEmpty());

    auto account = [this](const QString &service, const QString &message) {
        const QString name = m_accounts->accountName(service);
        if (!message.isEmpty())
            return message;
        return m_scrobbler->client(service) ? QStringLiteral("Connected as %1")
                                                  .arg(name.isEmpty() ? QStringLiteral("?") : name)
                                            : QStringLiteral("Not connected");
    };
    auto queue = [this](const QString &service) {
        ScrobbleSender *sender = m_scrobbler->sender(service);
        return sender ? queueText(sender->waiting(), sender->status()) : QString();
    };
    const bool lb = m_scrobbler->client(kListenBrainz);
    m_lbAccount->setText(account(kListenBrainz, m_lbMessage));
    m_lbDisconnect->setEnabled(lb);
    m_lbQueue->setText(queue(kListenBrainz));

    const bool available = ScrobbleAccounts::lastFmAvailable();
    const bool fm = m_scrobbler->client(kLastFm);
    m_lastFmAccount->setText(available ? account(kLastFm, m_lastFmMessage)
                                       : QStringLiteral("Last.fm is not available in this build."));
    m_lastFmConnect->setEnabled(available);
    m_lastFmFinish->setVisible(available && !fm && !m_lastFmMessage.isEmpty());
    m_lastFmDisconnect->setEnabled(fm);
    m_lastFmQueue->setText(queue(kLastFm));

    const QSignalBlocker quiet(m_excluded);
    const QSet<QString> excluded = m_accounts->excludedStations();
    for (int row = 0; row < m_excluded->count(); ++row) {
        QListWidgetItem *item = m_excluded->item(row);
        item->setCheckState(excluded.contains(item->data(Qt::UserRole).toString()) ? Qt::Checked
                                                                                   : Qt::Unchecked);
    }
}

void ScrobbleDialog::connectListenBrainz()
{
    m_lbMessage = QStringLiteral("Checking the token…");
    m_lbConnect->setEnabled(false);
    refresh();
    m_accounts->connectListenBrainz(QUrl::fromUserInput(m_lbAddress->text().trimmed()),
                                    m_lbToken->text(),
                                    [self = QPointer(this)](const QString &error, bool) {
                                        if (!self)
                                            return;
                                        self->m_lbMessage = error;
                                        self->m_lbConnect->setEnabled(true);
                                        if (error.isEmpty())
                                            self->m_lbToken->clear();
                                        self->refresh();
                                    });
}

void ScrobbleDialog::beginLastFm()
{
    m_accounts->beginLastFm([self = QPointer(this)](const QUrl &page, const QString &error) {
        if (!self)
            return;
        if (!page.isEmpty()) {
            QDesktopServices::openUrl(page);
            self->m_lastFmMessage =
                QStringLiteral("Allow Orbitune on the Last.fm page, then finish connecting.");
        } else {
            self->m_lastFmMessage = error;
        }
        self->refresh();
    });
}

void ScrobbleDialog::finishLastFm()
{
    m_accounts->finishLastFm([self = QPointer(this)](const QString &error, bool) {
        if (!self)
            return;
        self->m_lastFmMessage = error;
        self->refresh();
    });
}

#include "moc_ScrobbleDialog.cpp"
