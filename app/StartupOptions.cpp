#include "app/StartupOptions.h"

#include "platform/base/Settings.h"
#include "platform/desktop/Autostart.h"
#include "platform/ui/WindowHost.h"

#include <QAction>
#include <QCoreApplication>

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

void StartupOptions::attachHome(WindowHost *home)
{
    using Section = TrayMenu::Section;
    m_login = home->addTrayAction(Section::Application, QStringLiteral("Start at Login"),
                                  "startAtLoginAction");
    m_login->setCheckable(true);
    m_resume = home->addTrayAction(Section::Application, QStringLiteral("Resume Playing at Start"),
                                   "resumePlayingAction");
    m_resume->setCheckable(true);

    // The checks show what is on disk, also after another tool changed it
    // or a write failed.
    auto show = [this] {
        m_login->setChecked(autostart::isEnabled());
        m_resume->setChecked(resumesPlaying());
    };
    connect(home, &WindowHost::trayMenuAboutToShow, this, show);
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
