// The smallest Qt Widgets window with a label, as a start-up baseline.
#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLabel window(QStringLiteral("Hello"));
    window.resize(320, 300);
    window.show();
    return app.exec();
}
