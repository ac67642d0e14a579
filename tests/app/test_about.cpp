// links: tavrec_app tavrec_support_MediaProbe
// The about box and the splash window, built in-process on the session's X server.
#include <gtest/gtest.h>

#include <QThread>

#include <QApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTextBlock>
#include <QTextLayout>
#include <QThread>
#include <QTimer>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "settings/Tavrecabout.h"
#include "settings/Tavreclogo.h"
#include "tests/support/MediaProbe.h"

namespace {

QApplication& App()
{
    static int argc = 1;
    static char name[] = "test_about";
    static char* argv[] = {name, nullptr};
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    static QApplication app(argc, argv);
    return app;
}

// Points the installation folder at a fresh folder for the life of the object.
class InstallFolderOverride {
public:
    InstallFolderOverride() { setenv("TAVREC_INSTALL_DIR", dir_.Path().c_str(), 1); }
    ~InstallFolderOverride() { unsetenv("TAVREC_INSTALL_DIR"); }
    std::string File(const std::string& name) const { return dir_.File(name); }

private:
    testkit::TempDir dir_;
};

// The version the build gives the program: the one of the top CMakeLists.txt.
QString ProjectVersion()
{
    std::ifstream in(TAVREC_SOURCE_DIR "/CMakeLists.txt");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("project\\(Tavrec VERSION ([0-9.]+)")).match(QString::fromStdString(text));
    return match.captured(1);
}

QPoint ScreenCentre() { return QGuiApplication::primaryScreen()->geometry().center(); }

TEST(AboutBox, ShowsTheIntroFileLineByLineUnwrappedAndReadOnly)
{
    App();
    InstallFolderOverride install;
    const QString longLine = QStringLiteral("A long line that must not wrap: ") + QString(300, QLatin1Char('x'));
    const QStringList lines{QStringLiteral("Tavrec \u00e4\u00f6\u00fc \u2014 \u65e5\u672c"), QString(),
                            longLine, QStringLiteral("last line")};
    {
        std::ofstream out(install.File("Intro_english.txt"), std::ios::binary);
        out << lines.join(QLatin1Char('\n')).toStdString() << "\n";
    }

    TfrmAbout about(nullptr);
    about.show();
    QApplication::processEvents();

    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Tavrec..."));
    EXPECT_EQ(about.size(), QSize(400, 294));
    // Centred frame and all, once the window manager has framed it.
    const auto centred = [&] {
        return about.frameGeometry().size() != about.size() &&
               (about.frameGeometry().center() - ScreenCentre()).manhattanLength() <= 2;
    };
    for (int i = 0; i < 300 && !centred(); ++i) {
        QThread::msleep(10);
        QApplication::processEvents();
    }
    ASSERT_NE(about.frameGeometry().size(), about.size()) << "the window manager never framed the box";
    EXPECT_LE((about.frameGeometry().center() - ScreenCentre()).manhattanLength(), 2)
        << about.frameGeometry().x() << "," << about.frameGeometry().y();

    auto* text = about.findChild<QPlainTextEdit*>(QStringLiteral("txtIntro"));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->geometry(), QRect(8, 8, 377, 241));
    EXPECT_TRUE(text->isReadOnly());
    EXPECT_EQ(text->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_NE(text->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(text->toPlainText(), lines.join(QLatin1Char('\n')));
    ASSERT_EQ(text->document()->blockCount(), lines.size());
    // The long line is one line on the screen, far wider than the field.
    const QTextBlock block = text->document()->findBlockByNumber(2);
    ASSERT_NE(block.layout(), nullptr);
    EXPECT_EQ(block.layout()->lineCount(), 1);
    EXPECT_GT(block.layout()->boundingRect().width(), 377);

    auto* line = about.findChild<QFrame*>(QStringLiteral("bevN1"));
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->frameShape(), QFrame::HLine);
    EXPECT_EQ(line->geometry().topLeft(), QPoint(8, 256));
    EXPECT_EQ(line->width(), 379);
    auto* close = about.findChild<QPushButton*>(QStringLiteral("btnClose"));
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->text(), QStringLiteral("Close"));
    EXPECT_EQ(close->geometry(), QRect(308, 264, 81, 25));

    // Close ends the modal run.
    QTimer::singleShot(0, close, &QPushButton::click);
    about.exec();
    EXPECT_FALSE(about.isVisible());
}

TEST(AboutBox, MissingIntroFileGivesAnEmptyBox)
{
    App();
    InstallFolderOverride install;
    TfrmAbout about(nullptr);
    auto* text = about.findChild<QPlainTextEdit*>(QStringLiteral("txtIntro"));
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->toPlainText().isEmpty());
    // No message box or other window was opened for the missing file.
    for (QWidget* window : QApplication::topLevelWidgets())
        EXPECT_FALSE(window->isVisible()) << window->metaObject()->className();
}

TEST(SplashWindow, BorderlessCentredPictureWithVersionClosesByItsTimer)
{
    App();
    QElapsedTimer clock;
    clock.start();
    TfrmLOGO splash(nullptr);
    EXPECT_TRUE(splash.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(splash.size(), QSize(482, 309));

    auto* picture = splash.findChild<QLabel*>(QStringLiteral("imgLOGO"));
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->geometry(), QRect(0, 0, 482, 309));
    EXPECT_EQ(picture->pixmap().size(), QSize(482, 309));
    auto* version = splash.findChild<QLabel*>(QStringLiteral("lblVersionInfo"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->geometry(), QRect(192, 224, 174, 23));
    const QString expected = ProjectVersion();
    ASSERT_FALSE(expected.isEmpty());
    EXPECT_TRUE(version->text().contains(expected)) << version->text().toStdString();
    EXPECT_EQ(version->font().pixelSize(), 16);
    EXPECT_TRUE(version->font().bold());

    // A guard, so that a timer that never fires fails the test instead of hanging it.
    bool guardFired = false;
    QTimer::singleShot(15000, &splash, [&] {
        guardFired = true;
        splash.reject();
    });
    QTimer::singleShot(0, &splash, [&] {
        EXPECT_LE((splash.geometry().center() - ScreenCentre()).manhattanLength(), 2);
    });
    splash.exec();
    EXPECT_FALSE(guardFired);
    // It closes itself 2000 ms after it was created, not before.
    EXPECT_GE(clock.elapsed(), 1990);
}

}  // namespace
