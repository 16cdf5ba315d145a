#include "app/StartupOptions.h"

#include "platform/base/Settings.h"
#include "platform/desktop/Autostart.h"
#include "platform/ui/TrayMenu.h"
#include "player/HomeViewController.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>

namespace {
const QString kResumeKey = QStringLiteral("resumePlayingAtStart");
}

StartupOptions::StartupOptions(QObject *parent) : QObject(parent) {}

bool StartupOptions::resumesPlaying()
{
    return settings::open()->value(kResumeKey, false).toBool();
}

void StartupOptions::setResumesPlaying(bool on)
{
    settings::open()->setValue(kResumeKey, on);
}

QStringList StartupOptions::startArguments()
{
    return {QStringLiteral("--hidden")};
}

void StartupOptions::attachHome(HomeViewController *home)
{
    TrayMenu *menu = home->trayMenu();
    if (!menu)
        return;
    m_login = new QAction(QStringLiteral("Start at Login"), menu->menu());
    m_login->setObjectName(QStringLiteral("startAtLoginAction"));
    m_login->setCheckable(true);
    m_resume = new QAction(QStringLiteral("Resume Playing at Start"), menu->menu());
    m_resume->setObjectName(QStringLiteral("resumePlayingAction"));
    m_resume->setCheckable(true);
    menu->addAction(TrayMenu::Section::Application, m_login);
    menu->addAction(TrayMenu::Section::Application, m_resume);

    // The checks show what is on disk, also after another tool changed it
    // or a write failed.
    auto show = [this] {
        m_login->setChecked(autostart::isEnabled());
        m_resume->setChecked(resumesPlaying());
    };
    connect(menu->menu(), &QMenu::aboutToShow, this, show);
    connect(m_login, &QAction::triggered, this, [show](bool on) {
        autostart::setEnabled(on, QCoreApplication::applicationFilePath(), startArguments());
        show();
    });
    connect(m_resume, &QAction::triggered, this, [show](bool on) {
        setResumesPlaying(on);
        show();
    });
    show();
}

#include "moc_StartupOptions.cpp"
