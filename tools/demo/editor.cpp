// A one-line editor for the demo: takes the keyboard focus and prints what lands in it.
#include <QApplication>
#include <QLineEdit>
#include <chrono>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // --stamp: prefix each line with the wall-clock time in seconds (for benchmarks).
    const bool stamp = argc > 1 && std::strcmp(argv[1], "--stamp") == 0;
    QLineEdit edit;
    edit.setWindowTitle(QStringLiteral("ZAVREN demo editor"));
    edit.resize(640, 40);
    QObject::connect(&edit, &QLineEdit::textChanged, [stamp](const QString& text) {
        if (stamp) {
            auto now = std::chrono::system_clock::now().time_since_epoch();
            std::printf("%.6f ", std::chrono::duration<double>(now).count());
        }
        std::printf("%s\n", text.toUtf8().constData());
        std::fflush(stdout);
    });
    edit.show();
    edit.activateWindow();
    return QApplication::exec();
}
