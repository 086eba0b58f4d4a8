#include "app/appsettings.h"
#include "app/startup.h"
#include "ui/initdialog.h"
#include "ui/mainwidget.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings, true);
    QApplication app(argc, argv);

    registerApplicationFont(QStringLiteral(":/font/NotoSansSC-Medium.ttf"));

    // The identity decides where config.ini lives; set before the settings
    // store is first used.
    QApplication::setApplicationName(QStringLiteral("VexadinView"));
    QApplication::setOrganizationName(QStringLiteral("Vexadin"));

    AppSettings &settings = AppSettings::instance();
    // Installed before any window exists so every tr() text is translated.
    loadLanguage(settings.language);

    QApplication::setWindowIcon(QIcon(QStringLiteral(":/img/assets/Vexadin logo_navigate.png")));

    InitDialog initDialog;
    initDialog.exec();

    // Declared after the splash so it is destroyed first.
    MainWidget mainWidget;
    // The window draws its own title bar; this title is what the task bar and
    // the window switcher show, so it names the program, in every language.
    mainWidget.setWindowTitle(QStringLiteral("VexadinView"));
    mainWidget.show();
    // A recording named on the command line (a file manager's "open with").
    mainWidget.openFromCommandLine(filesFromArguments(QCoreApplication::arguments()));

    return app.exec();
}
