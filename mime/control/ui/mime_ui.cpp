// The about box and the property page of the Mime control. This is the only part of the
// component that links Qt; libmime loads it when one of the dialogs is asked for.
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cstdlib>
#include <memory>

namespace {

bool DisplayAvailable() {
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
}

// Runs `show` with a QApplication: the client's own when it has one, else one made for the call.
template <class Show>
int WithApplication(Show show) {
    if (QApplication::instance() != nullptr) return show();
    if (!DisplayAvailable()) return -1;
    static int argc = 1;
    static char name[] = "mime";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    return show();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int TalveronMimeUiAboutBox(const char* title, const char* text) {
    return WithApplication([&] {
        QDialog dialog;
        dialog.setWindowTitle(QString::fromUtf8(title));
        dialog.setObjectName("MimeAboutBox");
        auto* layout = new QVBoxLayout(&dialog);
        layout->addWidget(new QLabel(QStringLiteral("Mime Control\nVersion 1.04"), &dialog));
        layout->addWidget(new QLabel(QString::fromUtf8(text), &dialog));
        auto* buttons = new QDialogButtonBox(&dialog);
        QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
        ok->setDefault(true);
        QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
        layout->addWidget(buttons);
        dialog.setModal(true);
        dialog.exec();
        return 0;
    });
}

extern "C" __attribute__((visibility("default"))) int TalveronMimeUiPropertyPage(const char* caption,
                                                                                 const char* text) {
    return WithApplication([&] {
        QDialog dialog;
        dialog.setWindowTitle(QStringLiteral("Mime Property Page"));
        dialog.setObjectName("MimePropertyPage");
        auto* layout = new QVBoxLayout(&dialog);
        auto* tabs = new QTabWidget(&dialog);
        tabs->addTab(new QLabel(QString::fromUtf8(text)), QString::fromUtf8(caption));
        layout->addWidget(tabs);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        layout->addWidget(buttons);
        dialog.setModal(true);
        dialog.exec();
        return 0;
    });
}
