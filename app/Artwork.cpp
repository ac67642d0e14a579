#include "app/Artwork.h"

#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <QRadialGradient>

#include <cmath>

namespace artwork {

namespace {

constexpr int kToolbarSize = 24;
constexpr int kTraySize = 16;
constexpr int kSplashWidth = 482;
constexpr int kSplashHeight = 309;

// The colours one picture is drawn with. The hot state uses brighter fills and a
// white outline, so the picture under the pointer stands out.
struct Ink {
    bool hot = false;
    QColor Fill(QColor base) const { return hot ? base.lighter(135) : base; }
    QPen Outline(QColor base) const
    {
        QPen pen(hot ? QColor(255, 255, 255) : base.darker(160), hot ? 1.6 : 1.0);
        pen.setJoinStyle(Qt::RoundJoin);
        pen.setCapStyle(Qt::RoundCap);
        return pen;
    }
};

const QColor kRed(214, 38, 38);
const QColor kDark(64, 70, 82);
const QColor kGreen(46, 160, 67);
const QColor kBlue(40, 104, 200);
const QColor kSteel(120, 130, 145);
const QColor kYellow(236, 178, 40);
const QColor kPink(236, 120, 150);

QImage Canvas(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void DrawRecord(QPainter& p, const Ink& ink)
{
    p.setPen(ink.Outline(kRed));
    p.setBrush(ink.Fill(kRed));
    p.drawEllipse(QPointF(12, 12), 8, 8);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 110));
    p.drawEllipse(QPointF(9.5, 9.5), 2.5, 2.5);
}

void DrawStop(QPainter& p, const Ink& ink)
{
    p.setPen(ink.Outline(kDark));
    p.setBrush(ink.Fill(kDark));
    p.drawRoundedRect(QRectF(5, 5, 14, 14), 2, 2);
}

void DrawPlay(QPainter& p, const Ink& ink)
{
    const QPointF triangle[] = {{7, 4}, {20, 12}, {7, 20}};
    p.setPen(ink.Outline(kGreen));
    p.setBrush(ink.Fill(kGreen));
    p.drawPolygon(triangle, 3);
}

void DrawPause(QPainter& p, const Ink& ink)
{
    p.setPen(ink.Outline(kBlue));
    p.setBrush(ink.Fill(kBlue));
    p.drawRoundedRect(QRectF(6, 5, 4.5, 14), 1, 1);
    p.drawRoundedRect(QRectF(13.5, 5, 4.5, 14), 1, 1);
}

void DrawGear(QPainter& p, const Ink& ink)
{
    QPainterPath gear;
    gear.setFillRule(Qt::WindingFill);
    gear.addEllipse(QPointF(12, 12), 6.5, 6.5);
    for (int tooth = 0; tooth < 8; ++tooth) {
        QTransform turn;
        turn.translate(12, 12);
        turn.rotate(tooth * 45.0);
        QPainterPath block;
        block.addRect(QRectF(-1.8, -10, 3.6, 5));
        gear.addPath(turn.map(block));
    }
    QPainterPath hole;
    hole.addEllipse(QPointF(12, 12), 2.6, 2.6);
    gear = gear.simplified().subtracted(hole);
    p.setPen(ink.Outline(kSteel));
    p.setBrush(ink.Fill(kSteel));
    p.drawPath(gear);
}

void DrawPen(QPainter& p, const Ink& ink)
{
    p.save();
    p.translate(12, 12);
    p.rotate(45);
    p.setPen(ink.Outline(kYellow));
    p.setBrush(ink.Fill(kYellow));
    p.drawRect(QRectF(-2.5, -10, 5, 14));
    const QPointF tip[] = {{-2.5, 4}, {2.5, 4}, {0, 9}};
    p.setBrush(ink.Fill(QColor(240, 210, 160)));
    p.drawPolygon(tip, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(kDark);
    const QPointF point[] = {{-0.9, 7.2}, {0.9, 7.2}, {0, 9}};
    p.drawPolygon(point, 3);
    p.restore();
}

void DrawEraser(QPainter& p, const Ink& ink)
{
    p.save();
    p.translate(12, 12);
    p.rotate(-35);
    p.setPen(ink.Outline(kPink));
    p.setBrush(ink.Fill(kPink));
    p.drawRoundedRect(QRectF(-8, -4.5, 9, 9), 1.5, 1.5);
    p.setBrush(ink.Fill(QColor(235, 235, 240)));
    p.drawRoundedRect(QRectF(1, -4.5, 7, 9), 1.5, 1.5);
    p.restore();
}

void DrawLine(QPainter& p, const Ink& ink)
{
    QPen pen = ink.Outline(kDark);
    pen.setColor(ink.Fill(kBlue));
    pen.setWidthF(2.2);
    p.setPen(pen);
    p.drawLine(QPointF(5, 19), QPointF(19, 5));
    p.setPen(ink.Outline(kDark));
    p.setBrush(ink.Fill(kDark));
    p.drawEllipse(QPointF(5, 19), 2.2, 2.2);
    p.drawEllipse(QPointF(19, 5), 2.2, 2.2);
}

void DrawDrawMode(QPainter& p, const Ink& ink)
{
    QPainterPath squiggle(QPointF(3, 17));
    squiggle.cubicTo(QPointF(7, 7), QPointF(10, 22), QPointF(14, 13));
    squiggle.cubicTo(QPointF(16, 8), QPointF(19, 10), QPointF(21, 6));
    QPen pen(ink.Fill(kRed), 2.4);
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(squiggle);
    p.setPen(ink.Outline(kDark));
    p.setBrush(ink.Fill(kDark));
    p.drawEllipse(QPointF(21, 6), 1.8, 1.8);
}

void DrawClearAll(QPainter& p, const Ink& ink)
{
    const QColor paper(245, 245, 248);
    p.setPen(ink.Outline(kSteel));
    p.setBrush(ink.Fill(paper));
    p.drawRect(QRectF(4, 3, 14, 18));
    QPen cross(ink.Fill(kRed), 2.6);
    cross.setCapStyle(Qt::RoundCap);
    p.setPen(cross);
    p.drawLine(QPointF(12, 11), QPointF(20, 19));
    p.drawLine(QPointF(20, 11), QPointF(12, 19));
}

void DrawEncodingWizard(QPainter& p, const Ink& ink)
{
    // A strip of film with an arrow out of it: the recording turned into another file.
    p.setPen(ink.Outline(kDark));
    p.setBrush(ink.Fill(kDark));
    p.drawRect(QRectF(2, 5, 12, 14));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 250, 250));
    for (int hole = 0; hole < 4; ++hole) {
        p.drawRect(QRectF(3.2, 6.5 + hole * 3.2, 1.6, 1.6));
        p.drawRect(QRectF(11.2, 6.5 + hole * 3.2, 1.6, 1.6));
    }
    const QPointF arrow[] = {{14, 9.5}, {18, 9.5}, {18, 6}, {23, 12}, {18, 18}, {18, 14.5}, {14, 14.5}};
    p.setPen(ink.Outline(kGreen));
    p.setBrush(ink.Fill(kGreen));
    p.drawPolygon(arrow, 7);
}

using Drawing = void (*)(QPainter&, const Ink&);
constexpr Drawing kToolbarDrawings[kToolbarPictureCount] = {
    DrawRecord, DrawStop, DrawPlay,     DrawPause,    DrawGear,          DrawPen,
    DrawEraser, DrawLine, DrawDrawMode, DrawClearAll, DrawEncodingWizard,
};

QImage DrawToolbarPicture(int index, bool hot)
{
    QImage image = Canvas(kToolbarSize, kToolbarSize);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    if (hot) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 255, 70));
        painter.drawRoundedRect(QRectF(0.5, 0.5, 23, 23), 4, 4);
    }
    kToolbarDrawings[index](painter, Ink{hot});
    return image;
}

// The disabled state: the normal picture in grey at half strength.
QImage Greyed(const QImage& normal)
{
    QImage image = normal.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grey = 96 + qGray(row[x]) / 2;
            row[x] = qRgba(grey, grey, grey, qAlpha(row[x]) / 2);
        }
    }
    return image;
}

QImage DrawTrayFrame(int index)
{
    QImage image = Canvas(kTraySize, kTraySize);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // A grey ring with a red dot; every frame but the still one lights one sixth of
    // the ring, moving round, and lets the dot pulse.
    painter.setPen(QPen(QColor(150, 150, 150), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(8, 8), 6.5, 6.5);
    if (index > 0) {
        QPen lit(QColor(255, 90, 60), 2.2);
        lit.setCapStyle(Qt::FlatCap);
        painter.setPen(lit);
        painter.drawArc(QRectF(1.5, 1.5, 13, 13), (90 - index * 60) * 16, 60 * 16);
    }
    const double radius = index == 0 ? 4.0 : 3.4 + 0.8 * std::abs(std::sin(index * M_PI / 3.0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(index == 0 ? QColor(170, 40, 40) : QColor(230, 30, 30));
    painter.drawEllipse(QPointF(8, 8), radius, radius);
    return image;
}

QImage DrawSplash()
{
    QImage image(kSplashWidth, kSplashHeight, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient sky(0, 0, 0, kSplashHeight);
    sky.setColorAt(0, QColor(250, 251, 253));
    sky.setColorAt(1, QColor(214, 222, 234));
    painter.fillRect(image.rect(), sky);

    // A band along the bottom and a thin frame round the whole picture.
    painter.fillRect(QRect(0, kSplashHeight - 34, kSplashWidth, 34), QColor(44, 52, 66));
    painter.setPen(QPen(QColor(44, 52, 66), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(1, 1, kSplashWidth - 2, kSplashHeight - 2));

    // The lens: a camera-like ring around a glowing record dot.
    const QPointF centre(100, 140);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(44, 52, 66));
    painter.drawEllipse(centre, 70, 70);
    painter.setBrush(QColor(90, 100, 118));
    painter.drawEllipse(centre, 56, 56);
    QRadialGradient glow(centre - QPointF(12, 12), 48);
    glow.setColorAt(0, QColor(255, 120, 110));
    glow.setColorAt(0.6, QColor(214, 38, 38));
    glow.setColorAt(1, QColor(140, 20, 20));
    painter.setBrush(glow);
    painter.drawEllipse(centre, 42, 42);
    painter.setBrush(QColor(255, 255, 255, 120));
    painter.drawEllipse(centre - QPointF(16, 16), 9, 9);

    QFont title(QStringLiteral("Sans Serif"));
    title.setStyleHint(QFont::SansSerif);
    title.setWeight(QFont::Black);
    title.setPixelSize(64);
    painter.setFont(title);
    painter.setPen(QColor(44, 52, 66));
    painter.drawText(QRect(192, 70, 280, 80), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Tavrec"));

    QFont tagline(QStringLiteral("Sans Serif"));
    tagline.setStyleHint(QFont::SansSerif);
    tagline.setPixelSize(15);
    painter.setFont(tagline);
    painter.setPen(QColor(70, 80, 98));
    painter.drawText(QRect(194, 150, 280, 24), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Record your screen, draw on it."));

    tagline.setPixelSize(12);
    painter.setFont(tagline);
    painter.setPen(QColor(210, 216, 226));
    painter.drawText(QRect(14, kSplashHeight - 34, kSplashWidth - 28, 34), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Screen recorder for the X11 desktop"));
    return image;
}

QString Key(const char* kind, int index, int state = 0)
{
    return QStringLiteral("tavrec-artwork-%1-%2-%3").arg(QLatin1String(kind)).arg(index).arg(state);
}

// The picture under `key` in Qt's pixmap cache, drawn by `draw` when it is not
// there (first use, or evicted: drawing again gives the same picture).
template <typename Draw>
QPixmap Cached(const QString& key, Draw draw)
{
    QPixmap pixmap;
    if (!QPixmapCache::find(key, &pixmap)) {
        pixmap = QPixmap::fromImage(draw());
        QPixmapCache::insert(key, pixmap);
    }
    return pixmap;
}

}  // namespace

QPixmap ToolbarPicture(int index, PictureState state)
{
    if (index < 0 || index >= kToolbarPictureCount)
        return {};
    return Cached(Key("toolbar", index, static_cast<int>(state)), [&] {
        switch (state) {
        case PictureState::Hot:
            return DrawToolbarPicture(index, true);
        case PictureState::Disabled:
            return Greyed(DrawToolbarPicture(index, false));
        case PictureState::Normal:
            break;
        }
        return DrawToolbarPicture(index, false);
    });
}

QIcon ToolbarIcon(int index)
{
    QIcon icon;
    icon.addPixmap(ToolbarPicture(index, PictureState::Normal), QIcon::Normal);
    icon.addPixmap(ToolbarPicture(index, PictureState::Disabled), QIcon::Disabled);
    icon.addPixmap(ToolbarPicture(index, PictureState::Hot), QIcon::Active);
    return icon;
}

QPixmap TrayFrame(int index)
{
    if (index < 0 || index >= kTrayFrameCount)
        return {};
    return Cached(Key("tray", index), [&] { return DrawTrayFrame(index); });
}

QPixmap SplashPicture()
{
    return Cached(Key("splash", 0), [] { return DrawSplash(); });
}

}  // namespace artwork
