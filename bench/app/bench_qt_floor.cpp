// The floor of any Qt Widgets tray app on this machine: a QApplication with a
// tray icon and one hidden widget, nothing of Wardlamp. bench/app/run.sh
// measures its memory beside wardlamp's.
#include <QApplication>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::darkGreen);
    QSystemTrayIcon tray { QIcon(pixmap) };
    tray.show();
    QWidget hidden;
    hidden.resize(320, 200);
    return app.exec();
}
