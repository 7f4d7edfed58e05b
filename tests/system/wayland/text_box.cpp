// A plain native Wayland text box for the dictation test: it pastes on Ctrl+V
// like any editor and writes what it holds to the file named on its command line.
// It says on stderr when it gains and loses the keyboard focus.
#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QWindow>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("zavren-text-box"));
    if (argc != 2) return 2;
    QPlainTextEdit edit;
    QObject::connect(&edit, &QPlainTextEdit::textChanged, [&edit, path = QString(argv[1])] {
        QFile out(path);
        if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            out.write(edit.toPlainText().toUtf8());
    });
    QObject::connect(&app, &QGuiApplication::focusWindowChanged, [](QWindow* window) {
        std::fputs(window ? "focused\n" : "unfocused\n", stderr);
        std::fflush(stderr);
    });
    edit.show();
    return app.exec();
}
