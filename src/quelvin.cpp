#include "quelvin_window.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    BrowserWindow *window = new BrowserWindow(argc > 1 ? QString::fromUtf8(argv[1]) : QString());
    window->show();
    return app.exec();
}
