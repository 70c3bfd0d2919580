// pelorvane-grab OUT.png [WINDOW]: saves a picture of an X11 window (a decimal or 0x window id,
// as xdotool prints it), or of the whole screen, as PNG. tools/screenshot.sh uses it to take
// the README's picture of the real program under Xvfb.

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char *argv[]) {
    // The picture comes from the X server, whatever platform the environment names.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args.size() > 2) {
        std::fprintf(stderr, "usage: pelorvane-grab OUT.png [WINDOW]\n");
        return 2;
    }
    WId window = 0;
    if (args.size() == 2) {
        bool ok = false;
        window = WId(args[1].toULongLong(&ok, 0));
        if (!ok) {
            std::fprintf(stderr, "pelorvane-grab: not a window id: %s\n", qPrintable(args[1]));
            return 2;
        }
    }
    QScreen *screen = QGuiApplication::primaryScreen();
    const QPixmap picture = screen ? screen->grabWindow(window) : QPixmap();
    if (picture.isNull() || !picture.save(args[0], "PNG")) {
        std::fprintf(stderr, "pelorvane-grab: could not grab or save %s\n", qPrintable(args[0]));
        return 1;
    }
    return 0;
}
