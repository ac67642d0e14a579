#include "settings/Tavrecabout.h"

#include <QApplication>
#include <QFile>
#include <QFrame>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextStream>

#include "app/ExternalTools.h"
#include "settings/TavrecScreenCentre.h"

namespace {

// The text file's lines, read as UTF-8; nothing when there is no such file.
QStringList ReadLines(const QString& path)
{
    QStringList lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return lines;
    QTextStream stream(&file);
    stream.setEncoding(QStringConverter::Utf8);
    while (!stream.atEnd())
        lines.append(stream.readLine());
    return lines;
}

}  // namespace

TfrmAbout::TfrmAbout(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Tavrec..."));
    QFont dialogFont(QStringLiteral("Sans Serif"), 8);
    dialogFont.setStyleHint(QFont::SansSerif);
    setFont(dialogFont);
    setFixedSize(400, 294);

    txtIntro = new QPlainTextEdit(this);
    txtIntro->setObjectName(QStringLiteral("txtIntro"));
    txtIntro->setGeometry(8, 8, 377, 241);
    txtIntro->setReadOnly(true);
    txtIntro->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtIntro->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtIntro->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette palette = txtIntro->palette();
    palette.setColor(QPalette::Base, QApplication::palette("QMenu").color(QPalette::Window));
    txtIntro->setPalette(palette);

    bevN1 = new QFrame(this);
    bevN1->setObjectName(QStringLiteral("bevN1"));
    bevN1->setFrameShape(QFrame::HLine);
    bevN1->setFrameShadow(QFrame::Sunken);
    bevN1->setGeometry(8, 256, 379, 2);

    btnClose = new QPushButton(QStringLiteral("Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setGeometry(308, 264, 81, 25);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

    lines_ = ReadLines(InstallFilePath(QStringLiteral("Intro_english.txt")));
    txtIntro->setPlainText(lines_.join(QLatin1Char('\n')));

    CentreOnScreen(*this);
}
