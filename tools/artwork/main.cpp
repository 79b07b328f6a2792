// artwork: draws every picture of Corvane's interface and writes them as PNG
// files under the given folder (normally the qml folder of the source tree), and
// the program's icon in the theme sizes under the second folder when it is given
// (normally packaging/icons).
//
//   QT_QPA_PLATFORM=offscreen artwork <qml-folder> [<icon-theme-folder>]
//
// The output is the same on every run: noise is seeded and nothing is read.

#include "artpaint.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QLinearGradient>
#include <QRadialGradient>
#include <QTextStream>

#include <cmath>
#include <memory>

using namespace ArtPaint;

namespace {

QString target;
int failures = 0;

void save(const QImage &image, const QString &relative, bool opaque = false)
{
    const QString path = QDir(target).filePath(relative);
    QDir().mkpath(QFileInfo(path).path());
    QImageWriter writer(path, "png");
    writer.setQuality(0); // the strongest compression
    const QImage out = opaque ? image.convertToFormat(QImage::Format_RGB32) : image;
    if (!writer.write(out)) {
        QTextStream(stderr) << "artwork: " << path << ": " << writer.errorString() << '\n';
        ++failures;
    }
}

std::unique_ptr<QPainter> begin(QImage &image)
{
    auto p = std::make_unique<QPainter>(&image);
    p->setRenderHint(QPainter::Antialiasing);
    return p;
}

QPen linePen(const QColor &colour, qreal width)
{
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

QFont sans(int pixelSize, int weight = QFont::Normal)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QColor withAlpha(QColor colour, int alpha)
{
    colour.setAlpha(alpha);
    return colour;
}

// Dark backgrounds.

QImage darkBackground(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, QColor(0x1c, 0x1c, 0x22));
    g.setColorAt(1, QColor(0x10, 0x10, 0x14));
    p.fillRect(image.rect(), g);
    p.end();
    addVignette(image, 0.45);
    return image;
}

void backgrounds()
{
    QImage bg = darkBackground(1200, 800);
    addNoise(bg, 2, 1);
    save(bg, QStringLiteral("user/images/background1.png"), true);

    QImage noise(990, 590, QImage::Format_ARGB32_Premultiplied);
    noise.fill(QColor(0x12, 0x12, 0x15));
    addNoise(noise, 2, 2);
    save(noise, QStringLiteral("user/images/BackgroundNoise.png"), true);

    QImage connect = darkBackground(1200, 800);
    {
        QPainter p(&connect);
        p.setCompositionMode(QPainter::CompositionMode_Plus);
        const QPointF c(600, 300);
        QRadialGradient g(c, 560);
        g.setColorAt(0, QColor(0x5a, 0x24, 0x02));
        g.setColorAt(0.3, QColor(0x2a, 0x10, 0x01));
        g.setColorAt(0.65, QColor(0x08, 0x03, 0x00));
        g.setColorAt(1, QColor(0, 0, 0));
        p.translate(c);
        p.scale(1.0, 0.7);
        p.translate(-c);
        p.fillRect(QRectF(0, -300, 1200, 1400), g);
    }
    addNoise(connect, 2, 3);
    save(connect, QStringLiteral("user/images/connect.png"), true);
}

// Text and marks.

void texts()
{
    QImage connect1 = newImage(600, 60);
    paintCentredText(connect1, QStringLiteral("CONNECT YOUR WATCH VIA USB"), sans(22), 5,
                     Qt::white);
    save(connect1, QStringLiteral("user/images/connect1.png"));

    QImage done = newImage(600, 60);
    paintCentredText(done, QStringLiteral("UPDATE COMPLETE"), sans(22), 6, Qt::white);
    save(done, QStringLiteral("user/images/UpdateCompleteText.png"));

    QImage mark = newImage(260, 50);
    paintCentredText(mark, QStringLiteral("CORVANE"), sans(30, QFont::Light), 12, Qt::white);
    save(mark, QStringLiteral("user/images/Corvane.png"));

    QImage small = newImage(180, 36);
    paintCentredText(small, QStringLiteral("CORVANE"), sans(20), 8, accent);
    save(small, QStringLiteral("user/images/Corvane3.png"));

    QImage monogram = newImage(60, 60);
    auto p = begin(monogram);
    p->setPen(linePen(Qt::white, 1.4));
    p->drawEllipse(QPointF(30, 30), 27.5, 27.5);
    p->setPen(linePen(Qt::white, 3.2));
    p->drawArc(QRectF(16, 16, 28, 28), 45 * 16, 270 * 16);
    p.reset();
    save(monogram, QStringLiteral("user/images/G.png"));

    QImage banner = newImage(400, 120);
    p = begin(banner);
    QPainterPath frame;
    frame.addRoundedRect(QRectF(1, 1, 398, 118), 10, 10);
    QLinearGradient bg(0, 0, 0, 120);
    bg.setColorAt(0, QColor(0x22, 0x22, 0x28));
    bg.setColorAt(1, QColor(0x10, 0x10, 0x14));
    p->fillPath(frame, bg);
    QRadialGradient warm(QPointF(200, 60), 200);
    warm.setColorAt(0, QColor(0xff, 0x9a, 0x2e, 40));
    warm.setColorAt(1, QColor(0xff, 0x9a, 0x2e, 0));
    p->fillPath(frame, warm);
    p->setPen(QPen(accent, 1.5));
    p->drawPath(frame);
    p->setPen(QPen(withAlpha(accent, 110), 1));
    p->drawRoundedRect(QRectF(7, 7, 386, 106), 6, 6);
    p->setPen(QPen(withAlpha(accent, 160), 1));
    p->drawLine(QPointF(40, 60), QPointF(96, 60));
    p->drawLine(QPointF(304, 60), QPointF(360, 60));
    p.reset();
    QImage word = newImage(200, 120);
    paintCentredText(word, QStringLiteral("PRE-ORDER"), sans(26), 6, accent);
    QPainter(&banner).drawImage(100, 0, word);
    save(banner, QStringLiteral("user/images/preorder_01.png"));
}

// Large symbols.

QPainterPath arrowHead(const QPointF &tip, qreal angleDeg, qreal size)
{
    const qreal a = angleDeg * M_PI / 180.0;
    const QPointF dir(std::cos(a), -std::sin(a));
    const QPointF side(-dir.y(), dir.x());
    QPainterPath head;
    head.moveTo(tip - dir * size + side * size * 0.8);
    head.lineTo(tip);
    head.lineTo(tip - dir * size - side * size * 0.8);
    return head;
}

QPainterPath usbTrident(const QPointF &c, qreal s)
{
    // s is the full height of the symbol.
    QPainterPath p;
    const qreal top = c.y() - s / 2;
    const qreal bottom = c.y() + s / 2;
    p.moveTo(c.x(), top + s * 0.12);
    p.lineTo(c.x(), bottom - s * 0.1);
    QPainterPath head;
    head.moveTo(c.x(), top);
    head.lineTo(c.x() + s * 0.08, top + s * 0.14);
    head.lineTo(c.x() - s * 0.08, top + s * 0.14);
    head.closeSubpath();
    p.addPath(head);
    p.addEllipse(QPointF(c.x(), bottom - s * 0.05), s * 0.06, s * 0.06);
    // Left branch with a round end.
    p.moveTo(c.x(), c.y() + s * 0.22);
    p.lineTo(c.x() - s * 0.2, c.y() + s * 0.05);
    p.lineTo(c.x() - s * 0.2, c.y() - s * 0.08);
    p.addEllipse(QPointF(c.x() - s * 0.2, c.y() - s * 0.13), s * 0.05, s * 0.05);
    // Right branch with a square end.
    p.moveTo(c.x(), c.y() + s * 0.1);
    p.lineTo(c.x() + s * 0.2, c.y() - s * 0.05);
    p.lineTo(c.x() + s * 0.2, c.y() - s * 0.14);
    p.addRect(QRectF(c.x() + s * 0.15, c.y() - s * 0.24, s * 0.1, s * 0.1));
    return p;
}

void strokeWhite(QImage &image, const QPainterPath &path, qreal width, bool fillClosed = false)
{
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(linePen(Qt::white, width));
    p.setBrush(fillClosed ? QBrush(Qt::white) : QBrush(Qt::NoBrush));
    p.drawPath(path);
}

void symbols()
{
    QImage complete = newImage(160, 160);
    QPainterPath ring;
    ring.addEllipse(QPointF(80, 80), 56, 56);
    QPainterPath tick;
    tick.moveTo(56, 82);
    tick.lineTo(73, 99);
    tick.lineTo(106, 63);
    auto drawMark = [&](QPainter &p, const QColor &c, qreal ringW, qreal tickW) {
        p.setBrush(Qt::NoBrush);
        p.setPen(linePen(c, ringW));
        p.drawPath(ring);
        p.setPen(linePen(c, tickW));
        p.drawPath(tick);
    };
    addGlow(
        complete, [&](QPainter &p) { drawMark(p, withAlpha(accentDeep, 200), 12, 14); }, 9);
    {
        QPainter p(&complete);
        p.setRenderHint(QPainter::Antialiasing);
        drawMark(p, accent, 4, 6);
    }
    save(complete, QStringLiteral("user/images/UpdateCompleteLogo.png"));

    QImage update = newImage(160, 160);
    QPainterPath arrows;
    const QRectF ar(24, 24, 112, 112);
    arrows.arcMoveTo(ar, 100);
    arrows.arcTo(ar, 100, 150);
    arrows.arcMoveTo(ar, 280);
    arrows.arcTo(ar, 280, 150);
    // Heads at the end of both arcs, pointing along the direction of travel.
    QPainterPath tmp;
    tmp.arcMoveTo(ar, 250);
    arrows.addPath(arrowHead(tmp.currentPosition(), 250 + 90, 10));
    tmp.arcMoveTo(ar, 70);
    arrows.addPath(arrowHead(tmp.currentPosition(), 70 + 90, 10));
    QPainterPath down;
    down.moveTo(80, 52);
    down.lineTo(80, 102);
    down.addPath(arrowHead(QPointF(80, 104), -90, 14));
    down.moveTo(60, 112);
    down.lineTo(100, 112);
    addGlow(
        update,
        [&](QPainter &p) {
            p.setPen(linePen(withAlpha(accentDeep, 190), 12));
            p.drawPath(arrows);
            p.drawPath(down);
        },
        9);
    strokeWhite(update, arrows, 4);
    strokeWhite(update, down, 4.5);
    save(update, QStringLiteral("user/images/UpdateLogo.png"));

    QImage usb = newImage(200, 200);
    const QPainterPath trident = usbTrident(QPointF(100, 100), 160);
    strokeWhite(usb, trident, 6, true);
    save(usb, QStringLiteral("user/images/USBLogo.png"));

    QImage usb1 = newImage(300, 300);
    QPainterPath bezel;
    bezel.addEllipse(QPointF(150, 150), 128, 128);
    QPainterPath ticks;
    for (int i = 0; i < 60; ++i) {
        const qreal a = i * M_PI / 30.0;
        const qreal inner = i % 5 ? 112 : 104;
        const QPointF d(std::cos(a), std::sin(a));
        ticks.moveTo(QPointF(150, 150) + d * inner);
        ticks.lineTo(QPointF(150, 150) + d * 118);
    }
    addGlow(
        usb1,
        [&](QPainter &p) {
            p.setPen(linePen(QColor(0xff, 0x8a, 0x2a, 150), 14));
            p.drawPath(bezel);
        },
        12);
    strokeWhite(usb1, bezel, 3);
    {
        QPainter p(&usb1);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(linePen(QColor(255, 255, 255, 150), 1.5));
        p.drawPath(ticks);
    }
    strokeWhite(usb1, usbTrident(QPointF(150, 150), 150), 5.5, true);
    save(usb1, QStringLiteral("user/images/USBLogo1.png"));
}

// Small interface pieces.

void chevron(QImage &image, qreal cx, qreal cy, qreal half, qreal height, qreal width,
             const QColor &colour, bool up)
{
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(linePen(colour, width));
    const qreal dy = up ? height / 2 : -height / 2;
    QPainterPath path;
    path.moveTo(cx - half, cy + dy);
    path.lineTo(cx, cy - dy);
    path.lineTo(cx + half, cy + dy);
    p.drawPath(path);
}

QLinearGradient barGradient(qreal height)
{
    QLinearGradient g(0, 0, 0, height);
    g.setColorAt(0, QColor(0xff, 0xe2, 0x85));
    g.setColorAt(0.45, accent);
    g.setColorAt(1, accentDeep);
    return g;
}

void basics()
{
    QImage arrow = newImage(24, 24);
    chevron(arrow, 12, 12, 6.5, 7, 2.4, Qt::white, true);
    save(arrow, QStringLiteral("basic/images/arrow.png"));
    QImage arrow1 = newImage(24, 24);
    chevron(arrow1, 12, 12, 6.5, 7, 2.4, accent, true);
    save(arrow1, QStringLiteral("basic/images/arrow_01.png"));
    QImage combo = newImage(20, 20);
    chevron(combo, 10, 10.5, 5, 5, 2, Qt::white, false);
    save(combo, QStringLiteral("basic/images/combobox_button.png"));

    QImage check = newImage(16, 16);
    QPainterPath tick;
    tick.moveTo(3, 8.5);
    tick.lineTo(6.5, 12);
    tick.lineTo(13, 4.5);
    strokeWhite(check, tick, 2);
    save(check, QStringLiteral("basic/images/check.png"));

    QImage cell = newImage(14, 28);
    auto p = begin(cell);
    QPainterPath cellShape;
    cellShape.addRoundedRect(QRectF(1, 1, 12, 26), 2.5, 2.5);
    QLinearGradient cg(0, 1, 0, 27);
    cg.setColorAt(0, QColor(0x6c, 0xe0, 0x6a));
    cg.setColorAt(1, accent);
    p->fillPath(cellShape, cg);
    QLinearGradient shine(1, 0, 13, 0);
    shine.setColorAt(0, QColor(255, 255, 255, 0));
    shine.setColorAt(0.35, QColor(255, 255, 255, 70));
    shine.setColorAt(0.6, QColor(255, 255, 255, 0));
    p->fillPath(cellShape, shine);
    p.reset();
    save(cell, QStringLiteral("basic/images/battery_element.png"));

    const int mirrorAlpha[2] = {70, 34};
    const int mirrorGrey[2] = {255, 150};
    for (int i = 0; i < 2; ++i) {
        QImage mirror = newImage(120, 40);
        QPainter mp(&mirror);
        QLinearGradient g(0, 0, 0, 40);
        const int v = mirrorGrey[i];
        g.setColorAt(0, QColor(v, v, v, mirrorAlpha[i]));
        g.setColorAt(1, QColor(v, v, v, 0));
        mp.fillRect(mirror.rect(), g);
        mp.end();
        save(mirror, i ? QStringLiteral("basic/images/battery_mirror1.png")
                       : QStringLiteral("basic/images/battery_mirror.png"));
    }

    QImage line(1, 1, QImage::Format_ARGB32_Premultiplied);
    line.fill(QColor(255, 255, 255, 102));
    save(line, QStringLiteral("basic/images/linePixel.png"));
    QImage line1(1, 1, QImage::Format_ARGB32_Premultiplied);
    line1.fill(QColor(0x2b, 0x2b, 0x2b));
    save(line1, QStringLiteral("basic/images/linePixel_1.png"), true);

    // The progress bar: a capsule 40 pixels long cut into caps and a middle.
    QImage bar = newImage(60, 8);
    p = begin(bar);
    QPainterPath capsule;
    capsule.addRoundedRect(QRectF(0.5, 0.5, 59, 7), 3.5, 3.5);
    p->fillPath(capsule, barGradient(8));
    QLinearGradient gloss(0, 0, 0, 8);
    gloss.setColorAt(0, QColor(255, 255, 255, 90));
    gloss.setColorAt(0.45, QColor(255, 255, 255, 0));
    p->fillPath(capsule, gloss);
    p.reset();
    save(bar.copy(0, 0, 20, 8), QStringLiteral("basic/images/progressbar_1.png"));
    save(bar.copy(20, 0, 20, 8), QStringLiteral("basic/images/progressbar_2.png"));
    save(bar.copy(40, 0, 20, 8), QStringLiteral("basic/images/progressbar_3.png"));

    QImage refresh = newImage(32, 32);
    QPainterPath circle;
    const QRectF rr(7, 7, 18, 18);
    circle.arcMoveTo(rr, 60);
    circle.arcTo(rr, 60, 290);
    QPainterPath tmp;
    tmp.arcMoveTo(rr, 350);
    circle.addPath(arrowHead(tmp.currentPosition(), 350 + 90, 4.5));
    strokeWhite(refresh, circle, 2.4);
    save(refresh, QStringLiteral("basic/images/Refresh-icon.png"));

    QImage storage = newImage(16, 16);
    p = begin(storage);
    p->setPen(Qt::NoPen);
    p->setBrush(barGradient(16));
    p->drawRoundedRect(QRectF(2, 2, 12, 12), 3, 3);
    p.reset();
    save(storage, QStringLiteral("basic/images/storage-element.png"));
}

// The tray icon and everything that shows the tubes.

// Drawn on a 64 px grid and scaled, so that every size is drawn, not resampled.
QImage appIcon(int size)
{
    const qreal s = size / 64.0;
    QImage icon = newImage(size, size);
    auto p = begin(icon);
    QPainterPath square;
    square.addRoundedRect(QRectF(2 * s, 2 * s, 60 * s, 60 * s), 13 * s, 13 * s);
    QLinearGradient g(0, 2 * s, 0, 62 * s);
    g.setColorAt(0, QColor(0x2a, 0x2a, 0x31));
    g.setColorAt(1, QColor(0x10, 0x10, 0x14));
    p->fillPath(square, g);
    QRadialGradient warm(QPointF(32 * s, 34 * s), 28 * s);
    warm.setColorAt(0, QColor(0xff, 0x6a, 0x10, 36));
    warm.setColorAt(1, QColor(0xff, 0x6a, 0x10, 0));
    p->fillPath(square, warm);
    p->setPen(QPen(QColor(255, 255, 255, 50), 1.2 * s));
    p->drawPath(square);
    p.reset();
    paintLitDigit(icon, 8, QRectF(20.5 * s, 11 * s, 23 * s, 42 * s), 5.2 * s, 0.45);
    return icon;
}

void trayIcon()
{
    save(appIcon(64), QStringLiteral("tray_icon.png"));
}

// The program's icon in the sizes desktops look for, laid out as the hicolor theme is.
void themeIcons(const QString &folder)
{
    const QString qmlFolder = target;
    target = folder;
    for (int size : {16, 32, 48, 64, 128, 256})
        save(appIcon(size), QStringLiteral("%1x%1/apps/corvane.png").arg(size));
    target = qmlFolder;
}

struct Led
{
    const char *name;
    QColor colour;
};

const Led leds[] = {{"r", QColor(0xff, 0x2a, 0x2a)}, {"b", QColor(0x2a, 0x6b, 0xff)},
                    {"g", QColor(0x2a, 0xff, 0x6b)}, {"p", QColor(0xb0, 0x2a, 0xff)},
                    {"y", QColor(0xff, 0xd4, 0x2a)}, {"c", QColor(0x2a, 0xff, 0xff)},
                    {"w", QColor(0xff, 0xff, 0xff)}};

void watches()
{
    const QString dir = QStringLiteral("devices/tr31/usr/images/");
    const struct
    {
        WatchView view;
        const char *file;
    } views[] = {{WatchView::General, "Tr31General.png"},
                 {WatchView::Settings, "Tr31Settings.png"},
                 {WatchView::Service, "Tr31Service.png"},
                 {WatchView::Customize, "Tr31Customize.png"}};
    for (const auto &v : views) {
        QImage image = newImage(420, 420);
        paintWatch(image, v.view);
        save(image, dir + QLatin1String(v.file));
    }
    for (const Led &led : leds) {
        QImage image = newImage(420, 420);
        for (int i = 0; i < 4; ++i)
            paintBacklight(image, watchTubeBody(i), led.colour);
        save(image, dir + QStringLiteral("tr31_customize_led_%1.png").arg(led.name));
    }
}

void digits()
{
    const QString dir = QStringLiteral("devices/tr31/usr/images/digits/");
    const QRectF glassRect(3, 2, 54, 96);
    QPainterPath glass;
    glass.addRoundedRect(glassRect, 9, 9);
    const QRectF box(11, 14, 38, 72);
    for (int d = 0; d < 10; ++d) {
        QImage tile = newImage(60, 100);
        auto p = begin(tile);
        QLinearGradient g(glassRect.topLeft(), glassRect.topRight());
        g.setColorAt(0, QColor(0x22, 0x1e, 0x1e));
        g.setColorAt(0.5, QColor(0x0d, 0x0a, 0x0a));
        g.setColorAt(1, QColor(0x1e, 0x1b, 0x1c));
        p->fillPath(glass, g);
        p->setPen(QPen(QColor(0x9a, 0x80, 0x6a, 40), 2, Qt::SolidLine, Qt::RoundCap));
        for (int other = 0; other < 10; ++other) {
            if (other != d)
                p->drawPath(nixieDigit(other, box));
        }
        p.reset();
        paintLitDigit(tile, d, box, 2.8);
        p = begin(tile);
        p->setClipPath(glass);
        QLinearGradient hl(glassRect.topLeft(), glassRect.topRight());
        hl.setColorAt(0.1, QColor(255, 255, 255, 0));
        hl.setColorAt(0.2, QColor(255, 255, 255, 40));
        hl.setColorAt(0.3, QColor(255, 255, 255, 0));
        p->fillPath(glass, hl);
        p->setClipping(false);
        p->setPen(QPen(QColor(255, 255, 255, 40), 1));
        p->setBrush(Qt::NoBrush);
        p->drawPath(glass);
        p.reset();
        save(tile, dir + QStringLiteral("tr31_digit_%1.png").arg(d));
    }
}

void lamps()
{
    const QString dir = QStringLiteral("devices/tr31/usr/images/lamp/");
    const QRectF body(14, 8, 92, 176);
    QImage none = newImage(120, 220);
    paintTube(none, body, -1, true);
    save(none, dir + QStringLiteral("none.png"));
    const QRectF box = tubeDigitBox(body);
    const qreal stroke = box.width() / 40.0 * 2.6;
    for (int d : {1, 6}) {
        QImage lit = newImage(120, 220);
        paintLitDigit(lit, d, box, stroke);
        save(lit, dir + QStringLiteral("%1.png").arg(d));
    }
    for (const Led &led : leds) {
        QImage image = newImage(120, 220);
        paintBacklight(image, body, led.colour);
        save(image, dir + QStringLiteral("led_%1.png").arg(led.name));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() != 2 && args.size() != 3) {
        QTextStream(stderr) << "usage: artwork <qml-folder> [<icon-theme-folder>]\n";
        return 2;
    }
    target = args.at(1);
    if (args.size() == 3)
        themeIcons(args.at(2));
    trayIcon();
    basics();
    backgrounds();
    texts();
    symbols();
    watches();
    digits();
    lamps();
    return failures ? 1 : 0;
}
