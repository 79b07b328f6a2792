#include "artpaint.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPolygonF>
#include <QRadialGradient>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace ArtPaint {

const QColor accent(0xf7, 0xcd, 0x41);
const QColor accentDeep(0xff, 0xae, 0x00);

namespace {

const QColor wireColour(0xff, 0x9a, 0x2e);
const QColor wireCore(0xff, 0xd2, 0x8e);

QColor withAlpha(QColor colour, int alpha)
{
    colour.setAlpha(alpha);
    return colour;
}

// One line (row or column) of premultiplied pixels, blurred in place.
void blurLine(quint32 *data, int count, int stride, int radius, std::vector<int> &buf)
{
    buf.resize(size_t(count) * 4);
    for (int i = 0; i < count; ++i) {
        const quint32 px = data[i * stride];
        for (int c = 0; c < 4; ++c)
            buf[size_t(i) * 4 + size_t(c)] = int((px >> (8 * c)) & 0xff);
    }
    const int window = 2 * radius + 1;
    int sum[4] = {0, 0, 0, 0};
    for (int j = 0; j <= radius && j < count; ++j) {
        for (int c = 0; c < 4; ++c)
            sum[c] += buf[size_t(j) * 4 + size_t(c)];
    }
    for (int i = 0; i < count; ++i) {
        quint32 px = 0;
        for (int c = 0; c < 4; ++c)
            px |= quint32((sum[c] + window / 2) / window) << (8 * c);
        data[i * stride] = px;
        const int in = i + radius + 1;
        const int out = i - radius;
        for (int c = 0; c < 4; ++c) {
            if (in < count)
                sum[c] += buf[size_t(in) * 4 + size_t(c)];
            if (out >= 0)
                sum[c] -= buf[size_t(out) * 4 + size_t(c)];
        }
    }
}

QPointF arcPoint(const QRectF &rect, qreal angle)
{
    QPainterPath path;
    path.arcMoveTo(rect, angle);
    return path.currentPosition();
}

// The digits in a 40x72 design box, drawn as the bent wires of a tube.
QPainterPath designDigit(int digit)
{
    QPainterPath p;
    switch (digit) {
    case 0:
        p.addEllipse(QRectF(1, 0, 38, 72));
        break;
    case 1:
        p.moveTo(12, 10);
        p.lineTo(21, 0);
        p.lineTo(21, 72);
        break;
    case 2: {
        const QRectF r(2, 0, 36, 38);
        p.arcMoveTo(r, 165);
        p.arcTo(r, 165, -210);
        p.cubicTo(24, 42, 4, 58, 1, 72);
        p.lineTo(40, 72);
        break;
    }
    case 3: {
        const QRectF r(1, 29, 38, 43);
        p.moveTo(3, 0);
        p.lineTo(37, 0);
        p.lineTo(arcPoint(r, 110));
        p.arcTo(r, 110, -265);
        break;
    }
    case 4:
        p.moveTo(30, 72);
        p.lineTo(30, 0);
        p.lineTo(0, 50);
        p.lineTo(40, 50);
        break;
    case 5: {
        const QRectF r(1, 27, 38, 45);
        p.moveTo(37, 0);
        p.lineTo(7, 0);
        p.lineTo(arcPoint(r, 138));
        p.arcTo(r, 138, -290);
        break;
    }
    case 6:
    case 9: {
        const QRectF r(1, 32, 38, 40);
        p.moveTo(33, 0);
        p.cubicTo(14, 8, 1, 28, 1, 52);
        p.addEllipse(r);
        if (digit == 9)
            p = QTransform(-1, 0, 0, -1, 40, 72).map(p);
        break;
    }
    case 7:
        p.moveTo(0, 0);
        p.lineTo(40, 0);
        p.cubicTo(28, 20, 18, 42, 14, 72);
        break;
    case 8:
        p.addEllipse(QRectF(4, 0, 32, 31));
        p.addEllipse(QRectF(1, 31, 38, 41));
        break;
    default:
        break;
    }
    return p;
}

QPainterPath envelope(const QRectF &b)
{
    const qreal top = b.width() / 2;
    const qreal bottom = b.width() * 0.14;
    QPainterPath p;
    p.moveTo(b.left(), b.bottom() - bottom);
    p.lineTo(b.left(), b.top() + top);
    p.arcTo(QRectF(b.left(), b.top(), b.width(), 2 * top), 180, -180);
    p.lineTo(b.right(), b.bottom() - bottom);
    p.arcTo(QRectF(b.right() - 2 * bottom, b.bottom() - 2 * bottom, 2 * bottom, 2 * bottom), 0,
            -90);
    p.lineTo(b.left() + bottom, b.bottom());
    p.arcTo(QRectF(b.left(), b.bottom() - 2 * bottom, 2 * bottom, 2 * bottom), 270, -90);
    p.closeSubpath();
    return p;
}

QPainterPath hexMesh(const QRectF &area, qreal size)
{
    QPainterPath p;
    const qreal h = std::sqrt(3.0) * size;
    int col = 0;
    for (qreal x = area.left() - size; x < area.right() + size; x += 1.5 * size, ++col) {
        const qreal shift = (col % 2) ? h / 2 : 0;
        for (qreal y = area.top() - h + shift; y < area.bottom() + h; y += h) {
            QPolygonF hex;
            for (int k = 0; k <= 6; ++k) {
                const qreal a = M_PI / 3 * k;
                hex << QPointF(x + size * std::cos(a), y + size * std::sin(a));
            }
            p.addPolygon(hex);
        }
    }
    return p;
}

void fillMetal(QPainter &p, const QPainterPath &shape, const QRectF &r, int light, int dark)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, QColor(light, light, light + 8));
    g.setColorAt(0.45, QColor((light + dark) / 2, (light + dark) / 2, (light + dark) / 2 + 6));
    g.setColorAt(1, QColor(dark, dark, dark + 4));
    p.fillPath(shape, g);
}

QPainterPath strapShape()
{
    QPainterPath p;
    p.moveTo(140, -2);
    p.lineTo(280, -2);
    p.cubicTo(284, 50, 292, 100, 298, 150);
    p.lineTo(122, 150);
    p.cubicTo(128, 100, 136, 50, 140, -2);
    p.closeSubpath();
    return p;
}

void paintStrap(QPainter &p, bool bottom)
{
    p.save();
    if (bottom)
        p.setTransform(QTransform(1, 0, 0, -1, 0, 420), true);
    const QPainterPath shape = strapShape();
    QLinearGradient g(122, 0, 298, 0);
    g.setColorAt(0, QColor(0x0e, 0x0e, 0x11));
    g.setColorAt(0.18, QColor(0x22, 0x22, 0x27));
    g.setColorAt(0.5, QColor(0x2a, 0x2a, 0x30));
    g.setColorAt(0.82, QColor(0x20, 0x20, 0x25));
    g.setColorAt(1, QColor(0x0c, 0x0c, 0x0f));
    p.fillPath(shape, g);
    p.setClipPath(shape);
    for (int y = 10; y < 140; y += 13) {
        p.setPen(QPen(QColor(0, 0, 0, 110), 1.6));
        p.drawLine(QPointF(100, y), QPointF(320, y));
        p.setPen(QPen(QColor(255, 255, 255, 14), 1));
        p.drawLine(QPointF(100, y + 1.6), QPointF(320, y + 1.6));
    }
    QLinearGradient shade(0, 150, 0, 90);
    shade.setColorAt(0, QColor(0, 0, 0, 150));
    shade.setColorAt(1, QColor(0, 0, 0, 0));
    p.fillRect(QRectF(100, 90, 220, 60), shade);
    p.setClipping(false);
    p.setPen(QPen(QColor(0, 0, 0, 200), 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shape);
    p.restore();
}

void paintLugs(QPainter &p)
{
    for (int side = 0; side < 2; ++side) {
        for (int end = 0; end < 2; ++end) {
            const qreal x = side ? 294 : 104;
            const QRectF r(x, end ? 282 : 104, 22, 34);
            QPainterPath lug;
            lug.addRoundedRect(r, 7, 7);
            QLinearGradient g(r.topLeft(), r.topRight());
            g.setColorAt(0, QColor(0x22, 0x22, 0x27));
            g.setColorAt(0.5, QColor(0x5a, 0x5a, 0x63));
            g.setColorAt(1, QColor(0x1c, 0x1c, 0x20));
            p.fillPath(lug, g);
            p.setPen(QPen(QColor(0, 0, 0, 180), 1));
            p.drawPath(lug);
        }
    }
}

QPainterPath caseShape()
{
    QPainterPath p;
    p.addRoundedRect(QRectF(30, 122, 360, 176), 44, 44);
    return p;
}

void paintButtons(QImage &image, bool onLeft, bool highlighted)
{
    const qreal x = onLeft ? 22 : 384;
    const QRectF rects[] = {QRectF(x, 158, 14, 22), QRectF(x, 240, 14, 22)};
    if (highlighted) {
        addGlow(
            image,
            [&](QPainter &g) {
                g.setPen(Qt::NoPen);
                g.setBrush(accentDeep);
                for (const QRectF &r : rects)
                    g.drawRoundedRect(r.adjusted(-3, -3, 3, 3), 6, 6);
            },
            7);
    }
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    for (const QRectF &r : rects) {
        QPainterPath b;
        b.addRoundedRect(r, 4, 4);
        QLinearGradient g(r.topLeft(), r.bottomLeft());
        if (highlighted) {
            g.setColorAt(0, accent.lighter(115));
            g.setColorAt(1, accentDeep);
        } else {
            g.setColorAt(0, QColor(0x70, 0x70, 0x78));
            g.setColorAt(1, QColor(0x26, 0x26, 0x2b));
        }
        p.fillPath(b, g);
        p.setPen(QPen(QColor(0, 0, 0, 170), 1));
        p.drawPath(b);
    }
}

void paintCase(QPainter &p)
{
    const QPainterPath shape = caseShape();
    const QRectF r = shape.boundingRect();
    fillMetal(p, shape, r, 0x58, 0x16);
    QPainterPath inner;
    inner.addRoundedRect(r.adjusted(3, 3, -3, -3), 41, 41);
    QLinearGradient rim(r.topLeft(), r.bottomLeft());
    rim.setColorAt(0, QColor(255, 255, 255, 90));
    rim.setColorAt(0.35, QColor(255, 255, 255, 0));
    rim.setColorAt(0.8, QColor(255, 255, 255, 0));
    rim.setColorAt(1, QColor(255, 255, 255, 30));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QBrush(rim), 1.5));
    p.drawPath(inner);
    p.setPen(QPen(QColor(0, 0, 0, 220), 1.5));
    p.drawPath(shape);
}

void paintFront(QImage &image, const int digits[4], bool colonLit)
{
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    paintCase(p);
    QPainterPath bezel;
    const QRectF br(46, 138, 328, 144);
    bezel.addRoundedRect(br, 30, 30);
    QLinearGradient bg(br.topLeft(), br.bottomLeft());
    bg.setColorAt(0, QColor(0x0c, 0x0c, 0x0f));
    bg.setColorAt(1, QColor(0x4a, 0x4a, 0x52));
    p.fillPath(bezel, bg);
    QPainterPath window;
    window.addRoundedRect(br.adjusted(6, 6, -6, -6), 25, 25);
    QRadialGradient wg(QPointF(210, 200), 190);
    wg.setColorAt(0, QColor(0x14, 0x10, 0x0e));
    wg.setColorAt(1, QColor(0x04, 0x04, 0x05));
    p.fillPath(window, wg);
    p.end();

    for (int i = 0; i < 4; ++i)
        paintTube(image, watchTubeBody(i), digits[i], false);

    const QPointF dots[] = {QPointF(210, 200), QPointF(210, 228)};
    if (colonLit) {
        addGlow(
            image,
            [&](QPainter &g) {
                g.setPen(Qt::NoPen);
                g.setBrush(QColor(255, 90, 20, 200));
                for (const QPointF &d : dots)
                    g.drawEllipse(d, 5, 5);
            },
            4);
    }
    p.begin(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(colonLit ? wireColour : QColor(0x3a, 0x30, 0x2a));
    for (const QPointF &d : dots)
        p.drawEllipse(d, 2.4, 2.4);

    // The crystal over the window catches a broad diagonal reflection.
    p.setClipPath(window);
    QPainterPath sheen;
    sheen.moveTo(40, 130);
    sheen.lineTo(250, 130);
    sheen.lineTo(120, 300);
    sheen.lineTo(40, 300);
    sheen.closeSubpath();
    QLinearGradient sg(60, 140, 180, 260);
    sg.setColorAt(0, QColor(255, 255, 255, 26));
    sg.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillPath(sheen, sg);
    p.setClipping(false);
    p.setPen(QPen(QColor(0, 0, 0, 200), 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(window);

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(8);
    const QPainterPath label = spacedText(QStringLiteral("TR-31"), font, 2.5);
    const QRectF lr = label.boundingRect();
    p.fillPath(label.translated(210 - lr.center().x(), 290 - lr.center().y()),
               QColor(255, 255, 255, 80));
}

void paintBack(QImage &image)
{
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    paintCase(p);
    const QRectF pr(48, 138, 324, 144);
    QPainterPath plate;
    plate.addRoundedRect(pr, 30, 30);
    fillMetal(p, plate, pr, 0x78, 0x38);
    p.setClipPath(plate);
    std::mt19937 rng(31);
    for (qreal y = pr.top(); y < pr.bottom(); y += 1.0) {
        const int a = int(rng() % 22);
        const int v = a % 2 ? 255 : 0;
        p.setPen(QPen(QColor(v, v, v, a), 0.8));
        p.drawLine(QPointF(pr.left(), y + 0.5), QPointF(pr.right(), y + 0.5));
    }
    p.setClipping(false);
    p.setPen(QPen(QColor(0, 0, 0, 160), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawPath(plate);

    const QPointF screws[] = {QPointF(78, 162), QPointF(342, 162), QPointF(78, 258),
                              QPointF(342, 258)};
    for (const QPointF &s : screws) {
        QRadialGradient sg(s - QPointF(2, 2), 9);
        sg.setColorAt(0, QColor(0x9a, 0x9a, 0xa2));
        sg.setColorAt(1, QColor(0x3a, 0x3a, 0x40));
        p.setPen(QPen(QColor(0, 0, 0, 170), 1));
        p.setBrush(sg);
        p.drawEllipse(s, 7, 7);
        p.setPen(QPen(QColor(0x20, 0x20, 0x24), 1.8));
        p.drawLine(s + QPointF(-4, 4), s + QPointF(4, -4));
    }

    // Engraved rings and lettering: a dark cut with a light lower edge.
    auto engrave = [&](const QPainterPath &path, bool fill) {
        if (fill) {
            p.fillPath(path.translated(0, 1), QColor(255, 255, 255, 60));
            p.fillPath(path, QColor(0x22, 0x22, 0x26, 200));
        } else {
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(QColor(255, 255, 255, 60), 1.2));
            p.drawPath(path.translated(0, 1));
            p.setPen(QPen(QColor(0x22, 0x22, 0x26, 200), 1.2));
            p.drawPath(path);
        }
    };
    QPainterPath rings;
    rings.addEllipse(QPointF(210, 210), 118, 54);
    rings.addEllipse(QPointF(210, 210), 110, 48);
    engrave(rings, false);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(30);
    font.setWeight(QFont::Bold);
    QPainterPath name = spacedText(QStringLiteral("TR-31"), font, 6);
    QRectF nr = name.boundingRect();
    engrave(name.translated(210 - nr.center().x(), 202 - nr.center().y()), true);
    font.setPixelSize(9);
    font.setWeight(QFont::Normal);
    name = spacedText(QStringLiteral("NIXIE TUBE WATCH"), font, 3);
    nr = name.boundingRect();
    engrave(name.translated(210 - nr.center().x(), 232 - nr.center().y()), true);
}

} // namespace

QImage newImage(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void blur(QImage &image, int radius)
{
    if (radius < 1)
        return;
    const int w = image.width();
    const int h = image.height();
    auto *bits = reinterpret_cast<quint32 *>(image.bits());
    const int stride = image.bytesPerLine() / 4;
    std::vector<int> buf;
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < h; ++y)
            blurLine(bits + y * stride, w, 1, radius, buf);
        for (int x = 0; x < w; ++x)
            blurLine(bits + x, h, stride, radius, buf);
    }
}

void addGlow(QImage &image, const std::function<void(QPainter &)> &draw, int radius,
             QPainter::CompositionMode mode)
{
    QImage layer = newImage(image.width(), image.height());
    QPainter lp(&layer);
    lp.setRenderHint(QPainter::Antialiasing);
    draw(lp);
    lp.end();
    blur(layer, radius);
    QPainter p(&image);
    p.setCompositionMode(mode);
    p.drawImage(0, 0, layer);
}

void addNoise(QImage &image, int amplitude, quint32 seed)
{
    std::mt19937 rng(seed);
    const quint32 span = quint32(amplitude) + 1;
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int n = int(rng() % span) + int(rng() % span) - amplitude;
            const QRgb px = line[x];
            auto ch = [n](int v) {
                return std::clamp(v + n, 0, 255);
            };
            line[x] = qRgba(ch(qRed(px)), ch(qGreen(px)), ch(qBlue(px)), qAlpha(px));
        }
    }
}

void addVignette(QImage &image, qreal strength)
{
    QPainter p(&image);
    const QPointF c(image.width() / 2.0, image.height() / 2.0);
    const qreal r = std::hypot(c.x(), c.y());
    QRadialGradient g(c, r);
    g.setColorAt(0, QColor(0, 0, 0, 0));
    g.setColorAt(0.55, QColor(0, 0, 0, 0));
    g.setColorAt(1, QColor(0, 0, 0, int(255 * strength)));
    p.fillRect(image.rect(), g);
}

QPainterPath nixieDigit(int digit, const QRectF &box)
{
    QTransform t;
    t.translate(box.x(), box.y());
    t.scale(box.width() / 40.0, box.height() / 72.0);
    return t.map(designDigit(digit));
}

void paintLitDigit(QImage &image, int digit, const QRectF &box, qreal stroke, qreal halo)
{
    const QPainterPath path = nixieDigit(digit, box);
    const qreal k = stroke / 2.6;
    auto wire = [&path](QPainter &p, const QColor &c, qreal width) {
        p.setPen(QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    };
    addGlow(
        image, [&](QPainter &p) { wire(p, QColor(255, 60, 10, 150), stroke * 5 * halo); },
        std::max(2, int(std::lround(8 * k * halo))));
    addGlow(
        image, [&](QPainter &p) { wire(p, QColor(255, 110, 25, 210), stroke * 1.8); },
        std::max(1, int(std::lround(2.5 * k * std::sqrt(halo)))));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    wire(p, wireColour, stroke);
    wire(p, wireCore, stroke * 0.42);
}

QRectF tubeDigitBox(const QRectF &body)
{
    const qreal w = body.width() * 0.52;
    const qreal h = w * 1.8;
    const QPointF c(body.center().x(), body.top() + body.height() * 0.56);
    return QRectF(c.x() - w / 2, c.y() - h / 2, w, h);
}

void paintTube(QImage &image, const QRectF &body, int litDigit, bool withBase)
{
    const QPainterPath glass = envelope(body);
    const QRectF box = tubeDigitBox(body);
    const qreal stroke = box.width() / 40.0 * 2.6;
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    if (withBase) {
        const QRectF base(body.left() + 3, body.bottom() - 4, body.width() - 6,
                          body.width() * 0.17);
        const qreal pinTop = base.bottom();
        p.setPen(QPen(QColor(0x8a, 0x86, 0x80), 1.6, Qt::SolidLine, Qt::RoundCap));
        for (int i = 0; i < 6; ++i) {
            const qreal x = base.left() + base.width() * (i + 0.5) / 6.0;
            p.drawLine(QPointF(x, pinTop), QPointF(x, pinTop + body.width() * 0.16));
        }
        QPainterPath sock;
        sock.addRoundedRect(base, 4, 4);
        QLinearGradient g(base.topLeft(), base.topRight());
        g.setColorAt(0, QColor(0x16, 0x16, 0x19));
        g.setColorAt(0.4, QColor(0x3c, 0x3c, 0x43));
        g.setColorAt(1, QColor(0x12, 0x12, 0x14));
        p.fillPath(sock, g);
        p.setPen(QPen(QColor(0, 0, 0, 200), 1));
        p.drawPath(sock);
    }

    // Dark inside of the glass, a little lighter towards the rim.
    QLinearGradient in(body.topLeft(), body.topRight());
    in.setColorAt(0, QColor(0x2c, 0x2a, 0x2c, 200));
    in.setColorAt(0.5, QColor(0x0c, 0x0a, 0x0a, 215));
    in.setColorAt(1, QColor(0x26, 0x24, 0x26, 200));
    p.fillPath(glass, in);

    // Cathode supports and the stack of unlit digits.
    p.setClipPath(glass);
    p.setPen(QPen(QColor(0x6a, 0x62, 0x5a, 120), std::max(1.0, stroke * 0.6)));
    p.drawLine(QPointF(box.left() - stroke * 2, box.top() - stroke * 3),
               QPointF(box.right() + stroke * 2, box.top() - stroke * 3));
    p.drawLine(QPointF(box.left() - stroke * 2, box.bottom() + stroke * 3),
               QPointF(box.right() + stroke * 2, box.bottom() + stroke * 3));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x9a, 0x80, 0x6a, 44), stroke * 0.8, Qt::SolidLine, Qt::RoundCap,
                  Qt::RoundJoin));
    for (int d = 0; d < 10; ++d) {
        if (d != litDigit)
            p.drawPath(nixieDigit(d, box));
    }
    p.end();

    if (litDigit >= 0 && litDigit <= 9)
        paintLitDigit(image, litDigit, box, stroke);

    p.begin(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipPath(glass);
    // The honeycomb anode in front of the digits.
    const QRectF meshArea = body.adjusted(body.width() * 0.08, body.width() * 0.3,
                                          -body.width() * 0.08, -body.width() * 0.1);
    const QPainterPath mesh = hexMesh(meshArea, std::max(2.2, body.width() / 22.0));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0, 70), 0.7));
    p.drawPath(mesh);
    p.setPen(QPen(QColor(190, 180, 170, 18), 0.5));
    p.drawPath(mesh.translated(0.4, 0.4));

    // Reflections of the glass cylinder.
    QLinearGradient hl(body.topLeft(), body.topRight());
    hl.setColorAt(0.08, QColor(255, 255, 255, 0));
    hl.setColorAt(0.2, QColor(255, 255, 255, 60));
    hl.setColorAt(0.3, QColor(255, 255, 255, 0));
    hl.setColorAt(0.78, QColor(255, 255, 255, 0));
    hl.setColorAt(0.86, QColor(255, 255, 255, 22));
    hl.setColorAt(0.93, QColor(255, 255, 255, 0));
    p.fillPath(glass, hl);
    p.setClipping(false);
    p.setPen(QPen(QColor(255, 255, 255, 55), 1.1));
    p.drawPath(glass);
    p.setPen(QPen(QColor(255, 255, 255, 90), std::max(1.0, body.width() / 40.0), Qt::SolidLine,
                  Qt::RoundCap));
    const QRectF dome(body.left() + body.width() * 0.14, body.top() + body.width() * 0.1,
                      body.width() * 0.72, body.width() * 0.72);
    p.drawArc(dome, 105 * 16, 50 * 16);
}

void paintBacklight(QImage &image, const QRectF &body, const QColor &colour)
{
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setCompositionMode(QPainter::CompositionMode_Plus);
    const QPointF c(body.center().x(), body.bottom() - body.width() * 0.1);
    QColor full = colour;
    QColor half = colour;
    QColor none = colour;
    full.setAlpha(200);
    half.setAlpha(70);
    none.setAlpha(0);
    QRadialGradient g(c, body.width() * 0.7);
    g.setColorAt(0, full);
    g.setColorAt(0.35, half);
    g.setColorAt(1, none);
    p.save();
    p.translate(c);
    p.scale(1.0, 0.55);
    p.translate(-c);
    p.fillRect(
        QRectF(c.x() - body.width(), c.y() - body.width(), 2 * body.width(), 2 * body.width()), g);
    p.restore();
    // A faint wash rising inside the glass.
    QLinearGradient up(QPointF(0, body.bottom()), QPointF(0, body.top()));
    up.setColorAt(0, withAlpha(colour, 64));
    up.setColorAt(0.3, withAlpha(colour, 26));
    up.setColorAt(0.6, withAlpha(colour, 8));
    up.setColorAt(1, none);
    p.fillPath(envelope(body), up);
}

QRectF watchTubeBody(int index)
{
    return QRectF(68 + index * 74, 150, 62, 122);
}

void paintWatch(QImage &image, WatchView view)
{
    // A soft drop shadow below the whole watch.
    addGlow(
        image,
        [](QPainter &p) {
            p.translate(0, 6);
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0, 0, 0, 150));
            p.drawPath(caseShape());
            p.drawPath(strapShape());
            p.setTransform(QTransform(1, 0, 0, -1, 0, 426));
            p.drawPath(strapShape());
        },
        8, QPainter::CompositionMode_SourceOver);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        paintStrap(p, false);
        paintStrap(p, true);
        paintLugs(p);
    }
    const bool back = view == WatchView::Service;
    paintButtons(image, back, view == WatchView::Settings);
    if (back) {
        paintBack(image);
        return;
    }
    const int lit[4] = {1, 2, 3, 4};
    const int unlit[4] = {-1, -1, -1, -1};
    const bool dark = view == WatchView::Customize;
    paintFront(image, dark ? unlit : lit, !dark);
}

QPainterPath spacedText(const QString &text, const QFont &font, qreal spacing)
{
    QPainterPath path;
    const QFontMetricsF fm(font);
    qreal x = 0;
    for (const QChar ch : text) {
        path.addText(QPointF(x, 0), font, QString(ch));
        x += fm.horizontalAdvance(ch) + spacing;
    }
    return path;
}

void paintCentredText(QImage &image, const QString &text, const QFont &font, qreal spacing,
                      const QColor &colour)
{
    QPainterPath path = spacedText(text, font, spacing);
    const QRectF r = path.boundingRect();
    const qreal maxW = image.width() * 0.94;
    const qreal maxH = image.height() * 0.8;
    const qreal s = std::min({1.0, maxW / r.width(), maxH / r.height()});
    QTransform t;
    t.translate(image.width() / 2.0, image.height() / 2.0);
    t.scale(s, s);
    t.translate(-r.center().x(), -r.center().y());
    path = t.map(path);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillPath(path, colour);
}

} // namespace ArtPaint
