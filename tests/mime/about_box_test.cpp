// The about box and the property page, shown through libmime, driven under the offscreen platform.
#include "mime.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// Waits for the modal dialog, records what it shows and presses its OK button.
struct Closer {
    QString title, caption;
    bool pressed = false;
    void Arm() {
        QTimer::singleShot(10, [this] {
            QWidget* w = QApplication::activeModalWidget();
            if (w == nullptr) return Arm();
            title = w->windowTitle();
            if (auto* tabs = w->findChild<QTabWidget*>()) caption = tabs->tabText(0);
            for (QPushButton* b : w->findChildren<QPushButton*>()) {
                if (b->text() == "OK" || b->text() == "&OK") {
                    pressed = true;
                    b->click();
                }
            }
        });
    }
};

}  // namespace

TEST(Dialogs, AboutBoxIsModalWithAnOkButton) {
    Closer closer;
    closer.Arm();
    MimeDispatch* mime = MimeCreate();
    MimeExcepInfo excep{};
    EXPECT_EQ(MimeInvoke(mime, MIME_DISPID_ABOUTBOX, MIME_DISPATCH_METHOD, nullptr, 0, nullptr, &excep), MIME_S_OK);
    MimeRelease(mime);
    EXPECT_EQ(closer.title, "About Mime Control");
    EXPECT_TRUE(closer.pressed);
}

TEST(Dialogs, PropertyPageIsCaptionedGeneral) {
    MimeClassFactory* factory = nullptr;
    ASSERT_EQ(DllGetClassObject(&CLSID_MimePropPage, &IID_MimeClassFactory, reinterpret_cast<void**>(&factory)),
              MIME_S_OK);
    MimePropertyPage* page = nullptr;
    ASSERT_EQ(factory->vtbl->CreateInstance(factory, &IID_MimePropertyPage, reinterpret_cast<void**>(&page)),
              MIME_S_OK);
    Closer closer;
    closer.Arm();
    EXPECT_EQ(page->vtbl->Show(page), MIME_S_OK);
    page->vtbl->Release(page);
    EXPECT_EQ(closer.caption, "General");
    EXPECT_TRUE(closer.pressed);
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
